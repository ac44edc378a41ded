// Self-update and the driver installer: N5Click and BitBtn9Click.

#include "app/form1.h"

namespace ravelto::app {

void TForm1::N5Click() {}

void TForm1::BitBtn9Click() {}

}  // namespace ravelto::app
