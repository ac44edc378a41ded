// The settings checks: BitBtn1Click, SpeedButton4Click, BitBtn7Click, Button3Click, N3Click.

#include "app/form1.h"

namespace ravelto::app {

void TForm1::BitBtn1Click() {}

void TForm1::SpeedButton4Click() {}

void TForm1::BitBtn7Click() {}

void TForm1::Button3Click() {}

void TForm1::N3Click() {}

}  // namespace ravelto::app
