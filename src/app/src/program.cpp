#include "app/program.h"

#include <QApplication>
#include <exception>
#include <memory>

#include "app/main_form.h"
#include "dialogs/db_login.h"
#include "platform/hooks.h"
#include "settings/product_settings.h"
#include "ui/app_hooks.h"
#include "ui/application.h"

namespace app {

int RunMainWindow() {
  ui::TApplication::SetTitle(QString::fromUtf8(kApplicationTitle));
  ui::InstallQtHooks();
  dialogs::InstallLoginHook();
  // The product settings live as long as the program; a failure to read them is reported and
  // ends the program, as it did when the settings module could not start.
  std::unique_ptr<settings::ProductSettingsModule> product_settings;
  try {
    product_settings = std::make_unique<settings::ProductSettingsModule>();
  } catch (...) {
    platform::HandleApplicationException(std::current_exception());
    return 1;
  }
  TMainForm form;
  form.show();
  return QApplication::exec();
}

int RunProgram(int argc, char** argv) {
  ui::TApplication application(argc, argv);
  return RunMainWindow();
}

}  // namespace app
