// The request card: ListBox1Click, ListBox2Click and LoadRequest.

#include "app/form1.h"

namespace ravelto::app {

void TForm1::ListBox1Click() {}

void TForm1::ListBox2Click() {}

void TForm1::LoadRequest(const std::string& /*requestId*/) {}

}  // namespace ravelto::app
