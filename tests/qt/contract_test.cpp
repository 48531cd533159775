// The backend contract on the Qt backend (offscreen): the UI thread is the
// program's main thread, which runs the QApplication; the user's actions
// are real mouse and key events (QTest) on the widgets, and message boxes
// are the QMessageBoxes on the screen.

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QComboBox>
#include <QFileDialog>
#include <QHelpEvent>
#include <QLineEdit>
#include <QMetaObject>
#include <QProgressBar>
#include <QTest>
#include <QToolTip>

#include "contract/backend_contract.h"
#include "contract/main_dialog_contract.h"
#include "qt/qt_gui.h"

namespace quillon::contract {
namespace {

using testing::Act;
using testing::OnGuiGet;
using testing::QtGuiBackend;

class QtHarness : public Harness {
 public:
  ~QtHarness() override {
    // A box a failed test left open.
    while (testing::CloseMessageBox(0)) {
    }
  }

  ui::Backend& Backend() override { return QtGuiBackend(); }
  void OnUi(const std::function<void()>& task) override { testing::OnGui(task); }
  void StartOnUi(std::function<void()> task) override {
    QMetaObject::invokeMethod(qApp, std::move(task), Qt::QueuedConnection);
  }
  bool WaitFor(const std::function<bool()>& condition, int timeoutMs) override {
    return testing::WaitUntil(condition, timeoutMs);
  }

  bool Click(ui::WindowHandle window, int id) override {
    if (!Usable(window, id)) return false;
    testing::ClickControl(window, id);
    return true;
  }
  // Opens the list and clicks the entry, as the user picks one.
  bool SelectListItem(ui::WindowHandle window, int id, int index) override {
    if (!Usable(window, id)) return false;
    const bool inList = OnGuiGet([=] {
      auto* combo = qobject_cast<QComboBox*>(QtGuiBackend().ControlWidget(window, id));
      return combo && index >= 0 && index < combo->count();
    });
    if (!inList) return false;
    Act([=] {
      auto* combo = qobject_cast<QComboBox*>(QtGuiBackend().ControlWidget(window, id));
      combo->showPopup();
      QAbstractItemView* view = combo->view();
      const QRect entry = view->visualRect(view->model()->index(index, 0));
      QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, entry.center());
    });
    return true;
  }
  bool PressEnter(ui::WindowHandle window) override { return Key(window, Qt::Key_Return); }
  bool PressEscape(ui::WindowHandle window) override { return Key(window, Qt::Key_Escape); }
  bool CloseBox(ui::WindowHandle window) override {
    const bool has = OnGuiGet([=] {
      QWidget* w = QtGuiBackend().Widget(window);
      return w && w->isVisible() && (w->windowFlags() & Qt::WindowCloseButtonHint);
    });
    if (!has) return false;
    Act([=] {
      if (QWidget* w = QtGuiBackend().Widget(window)) w->close();
    });
    return true;
  }
  ProgressView Progress(ui::WindowHandle window, int id) override {
    return OnGuiGet([=] {
      auto* bar = qobject_cast<QProgressBar*>(QtGuiBackend().ControlWidget(window, id));
      return bar ? ProgressView{bar->minimum(), bar->maximum(), bar->value()} : ProgressView{};
    });
  }
  std::optional<BoxView> NextMessageBox(int timeoutMs) override {
    if (!testing::WaitForGui([] { return testing::ShownMessageBox() != nullptr; }, timeoutMs)) {
      return std::nullopt;
    }
    return OnGuiGet([] {
      const QMessageBox* box = testing::ShownMessageBox();
      BoxIcon icon = BoxIcon::kOther;
      if (box->icon() == QMessageBox::NoIcon) icon = BoxIcon::kNone;
      if (box->icon() == QMessageBox::Critical) icon = BoxIcon::kError;
      if (box->icon() == QMessageBox::Information) icon = BoxIcon::kInformation;
      return BoxView{box->text().toStdString(), box->windowTitle().toStdString(), icon};
    });
  }
  void CloseMessageBox() override {
    testing::CloseMessageBox(0);
    testing::WaitForGui([] { return testing::ShownMessageBox() == nullptr; }, kPatienceMs);
  }
  bool BoxesStayOpen() const override { return true; }
  ui::WindowHandle FindWindow(const std::string& caption) override {
    return OnGuiGet([&] {
      QWidget* w = testing::TopLevel(QString::fromStdString(caption));
      return w ? QtGuiBackend().WindowOf(w) : ui::kNoWindow;
    });
  }
  // Types the path into the file dialog's name box and presses Enter, or
  // presses Escape.
  std::optional<FileDialogView> Browse(ui::WindowHandle window, int id,
                                       std::optional<std::string> path) override {
    const auto shown = [] { return qobject_cast<QFileDialog*>(QApplication::activeModalWidget()); };
    if (!Click(window, id) || !testing::WaitForGui([&] { return shown() != nullptr; })) {
      return std::nullopt;
    }
    FileDialogView view;
    Act([&] {
      for (const QString& filter : shown()->nameFilters()) {
        view.fileTypes.push_back(filter.toStdString());
      }
      auto* name = shown()->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
      if (path) {
        QTest::keyClicks(name, QString::fromStdString(*path));
        QTest::keyClick(name, Qt::Key_Return);
      } else {
        QTest::keyClick(name, Qt::Key_Escape);
      }
    });
    if (!testing::WaitForGui([&] { return shown() == nullptr; })) return std::nullopt;
    return view;
  }
  // What a tooltip event over the control shows.
  std::optional<std::string> ToolTip(ui::WindowHandle window, int id) override {
    return OnGuiGet([=]() -> std::optional<std::string> {
      QWidget* control = QtGuiBackend().ControlWidget(window, id);
      if (!control) return std::nullopt;
      const QPoint at = control->rect().center();
      QHelpEvent event(QEvent::ToolTip, at, control->mapToGlobal(at));
      HideToolTip();
      QApplication::sendEvent(control, &event);
      std::optional<std::string> tip;
      if (QToolTip::isVisible()) tip = QToolTip::text().toStdString();
      HideToolTip();
      return tip;
    });
  }

 private:
  // QToolTip::hideText lets the tip fade out; gone at once, the next event
  // shows what it shows or nothing.
  static void HideToolTip() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (w->inherits("QTipLabel")) w->hide();
    }
  }
  // Whether the user can reach control `id` (0: the window itself).
  static bool Usable(ui::WindowHandle window, int id) {
    return OnGuiGet([=] {
      QWidget* w = QtGuiBackend().Widget(window);
      QWidget* c = id == 0 ? w : QtGuiBackend().ControlWidget(window, id);
      // A modal dialog keeps the user from its owner; a message box (made
      // application-modal by Qt) from every window.
      const QWidget* modal = QApplication::activeModalWidget();
      bool blocked = modal && modal != w && modal->windowModality() == Qt::ApplicationModal;
      for (const QWidget* up = modal; up && !blocked; up = up->parentWidget()) {
        blocked = up != modal && up == w;
      }
      return w && c && w->isVisible() && w->isEnabled() && c->isEnabled() && !blocked;
    });
  }
  static bool Key(ui::WindowHandle window, Qt::Key key) {
    if (!Usable(window, 0)) return false;
    Act([=] { QTest::keyClick(QtGuiBackend().Widget(window), key); });
    return true;
  }
};

INSTANTIATE_TYPED_TEST_SUITE_P(QtContract, BackendContract, QtHarness);
INSTANTIATE_TYPED_TEST_SUITE_P(QtMainDialog, MainDialogContract, QtHarness);

}  // namespace
}  // namespace quillon::contract
