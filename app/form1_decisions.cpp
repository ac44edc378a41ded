// Accepting and rejecting a request: Button1Click and Button2Click.

#include "app/form1.h"

namespace ravelto::app {

void TForm1::Button1Click() {}

void TForm1::Button2Click() {}

}  // namespace ravelto::app
