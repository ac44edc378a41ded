// The two save buttons of the settings pages. Both write the whole settings
// list to "config.ini" in the working directory; only the proxy page's button
// first copies its four fields into the list.

#include <QLineEdit>

#include "app/form1.h"
#include "app/settings_grid.h"
#include "app/text_codec.h"
#include "settings/settings_file.h"

namespace ravelto::app {

void TForm1::BitBtn2Click() {
  settings::SaveSettings(settingsModel_->List());
  ShowMessage(QStringLiteral("Сохранено"));
}

void TForm1::SpeedButton1Click() {
  settingsModel_->Modify([this](settings::SettingsList& list) {
    list.Write("proxy", FromQt(Edit12->text()));
    list.Write("proxylogin", FromQt(Edit13->text()));
    list.Write("proxypass", FromQt(Edit14->text()));
    list.Write("proxyport", FromQt(Edit15->text()));
  });
  settings::SaveSettings(settingsModel_->List());
  ShowMessage(QStringLiteral("Сохранено"));
}

}  // namespace ravelto::app
