// What the Qt backend computes itself: dialog units in pixels, the file
// filters, the icons, and a dialog's layout from its template.

#include <gtest/gtest.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFontMetrics>
#include <QImage>
#include <QImageReader>
#include <QWidget>

#include "qt/qt_gui.h"
#include "res/resource.h"
#include "res/templates.h"
#include "ui/dialog.h"

namespace quillon::ui {
namespace {

using testing::OnGuiGet;
using testing::QtGuiBackend;

TEST(QtBackendUnits, DialogUnitsBecomePixelsAsWindowsRoundsThem) {
  struct Case {
    int units, base, x, y;
  };
  // x * base / 4 and y * base / 8, rounded half away from zero.
  for (const Case c :
       {Case{0, 6, 0, 0}, Case{4, 6, 6, 3}, Case{321, 6, 482, 241}, Case{228, 13, 741, 371},
        Case{1, 6, 2, 1}, Case{3, 5, 4, 2}, Case{-3, 5, -4, -2}, Case{7, 13, 23, 11}}) {
    EXPECT_EQ(DialogUnitsToPixelsX(c.units, c.base), c.x) << c.units << " at " << c.base;
    EXPECT_EQ(DialogUnitsToPixelsY(c.units, c.base), c.y) << c.units << " at " << c.base;
  }
}

TEST(QtBackendUnits, FileFiltersBecomeQtsNameFilters) {
  struct Case {
    const char* win;
    const char* qt;
  };
  for (const Case c : {
           Case{"Main Firmware Files (*.mfw)|*.mfw|", "Main Firmware Files (*.mfw)"},
           Case{"Fonts (*.bin)|*.bin|All Files (*.*)|*.*|", "Fonts (*.bin);;All Files (*.*)"},
           Case{"Images|*.mfw;*.ipl|", "Images (*.mfw *.ipl)"},
           Case{"", ""},
       }) {
    EXPECT_EQ(QtFileFilter(c.win), c.qt) << c.win;
  }
}

TEST(QtBackendUnits, TheProgramsTwoIconsAreThere) {
  // The resource script's icons, as the backend reads them from the
  // program's Qt resources.
  for (const char* name : {"quillon.ico", "passbook.ico"}) {
    QFile file(QStringLiteral(":/quillon/icons/") + QLatin1String(name));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << name;
    QByteArray data = file.readAll();
    ASSERT_FALSE(data.isEmpty()) << name;
    QBuffer buffer(&data);
    QImageReader reader(&buffer, "ICO");
    EXPECT_GE(reader.imageCount(), 1) << name;
    EXPECT_FALSE(reader.read().isNull()) << name;
  }
  // And the program has no other.
  EXPECT_EQ(QDir(QStringLiteral(":/quillon/icons")).entryList(QDir::Files),
            QStringList({QStringLiteral("passbook.ico"), QStringLiteral("quillon.ico")}));
}

// A dialog that does nothing but exist.
class Plain : public Dialog {
 public:
  explicit Plain(int templateId) : Dialog(templateId) {}
};

TEST(QtBackendLayout, EveryControlSitsWhereItsTemplatePutsIt) {
  for (const int id : {IDD_MAIN, IDD_ABOUT, IDD_PROGRESS}) {
    const res::DialogTemplate* t = res::FindDialogTemplate(id);
    ASSERT_NE(t, nullptr);
    Plain dialog(id);
    ASSERT_TRUE(dialog.Create());
    testing::OnGui([&] {
      QWidget* window = QtGuiBackend().Widget(dialog.Handle());
      const QFontMetrics metrics(window->font());
      const int baseX = (metrics.horizontalAdvance(QStringLiteral(
                             "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) /
                             26 +
                         1) /
                        2;
      const int baseY = metrics.height();
      EXPECT_EQ(window->windowTitle().toStdString(), t->caption);
      EXPECT_EQ(window->width(), DialogUnitsToPixelsX(t->rect.cx, baseX));
      EXPECT_EQ(window->height(), DialogUnitsToPixelsY(t->rect.cy, baseY));
      for (const res::ControlTemplate& c : t->controls) {
        if (c.id == IDC_NONE) continue;
        const QWidget* control = QtGuiBackend().ControlWidget(dialog.Handle(), c.id);
        if (control == nullptr) {
          ADD_FAILURE() << "no control " << c.id;
          continue;
        }
        EXPECT_EQ(control->x(), DialogUnitsToPixelsX(c.rect.x, baseX)) << c.id;
        EXPECT_EQ(control->y(), DialogUnitsToPixelsY(c.rect.y, baseY)) << c.id;
        EXPECT_EQ(control->width(), DialogUnitsToPixelsX(c.rect.cx, baseX)) << c.id;
        EXPECT_EQ(control->isEnabled(), (c.style & 0x08000000u) == 0) << c.id;
      }
    });
    dialog.DestroyWindow();
  }
}

}  // namespace
}  // namespace quillon::ui
