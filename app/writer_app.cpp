#include "app/writer_app.h"

#include <memory>

#include "app/writer_dlg.h"
#include "engine/result_codes.h"

namespace quillon::app {

int CWriterApp::Run() {
  Enable3dControls();
  auto dialog = std::make_unique<CWriterDlg>(modelTableText_);
  ui::SetMainWindow(static_cast<ui::Dialog*>(dialog.get()));
  if (dialog->modelTable.LoadModelTable() == 0 && dialog->modelTable.SelectModel() == 1) {
    dialog->DoModal();
    exitCode = dialog->GetLastResult();
  } else {
    dialog->ShowResult(engine::kDataFileError);
  }
  ui::SetMainWindow(nullptr);
  return exitCode;
}

}  // namespace quillon::app
