#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "core/errors.h"
#include "platform/hooks.h"
#include "qt_app.h"
#include "ui/app_hooks.h"
#include "ui/message_form.h"
#include "ui/metrics.h"

namespace ui {
namespace {

std::vector<QPushButton*> ButtonsOf(QWidget* form) {
  std::vector<QPushButton*> buttons;
  for (QPushButton* b : form->findChildren<QPushButton*>(Qt::FindDirectChildrenOnly))
    buttons.push_back(b);
  std::sort(buttons.begin(), buttons.end(),
            [](QPushButton* a, QPushButton* b) { return a->x() < b->x(); });
  return buttons;
}

// Opens the dialog (modal, without blocking) and sends one key to the widget that has
// the focus in it, as the keyboard would.
int ResultOfKey(TMessageForm& form, Qt::Key key) {
  form.open();
  form.setResult(-1);
  QWidget* target = form.focusWidget() ? form.focusWidget() : &form;
  QTest::keyClick(target, key);
  return form.isVisible() ? -1 : form.result();
}

// Runs `inspect` on the modal window once the event loop shows it.
void WhenModalShows(std::function<void(QWidget*)> inspect) {
  auto* timer = new QTimer;
  timer->setInterval(10);
  QObject::connect(timer, &QTimer::timeout, [timer, inspect] {
    if (QWidget* modal = QApplication::activeModalWidget()) {
      timer->stop();
      timer->deleteLater();
      inspect(modal);
    }
  });
  timer->start();
}

TEST(MessageForm, TheCallersButtonSetsAnswerEnterEscAndTheCloseBox) {
  struct Case {
    TMessageButtons buttons;
    std::vector<QString> captions;
    std::vector<QString> names;
  };
  const std::vector<Case> cases = {
      {3, {"&Ano", "&Ne"}, {"Yes", "No"}},
      {515, {"&Ano", "&Ne", "Ano &všem"}, {"Yes", "No", "YesToAll"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.buttons);
    auto form = BuildMessageForm("Pokračovat?", mkConfirmation, c.buttons);
    auto buttons = ButtonsOf(form.get());
    ASSERT_EQ(buttons.size(), c.captions.size());
    for (std::size_t i = 0; i < buttons.size(); ++i) {
      EXPECT_EQ(buttons[i]->text(), c.captions[i]);
      EXPECT_EQ(buttons[i]->objectName(), c.names[i]);
    }
    EXPECT_EQ(form->DefaultButton(), buttons[0]);
    EXPECT_EQ(form->CancelButton(), buttons[1]);

    EXPECT_EQ(ResultOfKey(*form, Qt::Key_Return), mrYes);
    EXPECT_EQ(ResultOfKey(*form, Qt::Key_Enter), mrYes);
    EXPECT_EQ(ResultOfKey(*form, Qt::Key_Escape), mrNo);
    form->open();
    form->close();
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(form->result(), mrCancel);
    form->open();
    buttons.back()->click();
    EXPECT_EQ(form->result(), c.buttons == 515 ? mrYesToAll : mrNo);
  }
}

TEST(MessageForm, EveryButtonKindHasItsCaptionAndResult) {
  auto form = BuildMessageForm("x", mkWarning, 0x07FF | 0xF800);  // bits 11..15 mean nothing
  auto buttons = ButtonsOf(form.get());
  const std::vector<std::pair<QString, int>> expected = {
      {"&Ano", 6},      {"&Ne", 7},        {"OK", 1},         {"Storno", 2},
      {"&Přerušit", 3}, {"&Znovu", 4},     {"&Ignorovat", 5}, {"&Všechno", 8},
      {"Ne &všem", 9},  {"Ano &všem", 10}, {"Nápo&věda", 0},
  };
  ASSERT_EQ(buttons.size(), expected.size());
  for (std::size_t i = 0; i < buttons.size(); ++i) {
    SCOPED_TRACE(expected[i].first.toStdString());
    EXPECT_EQ(buttons[i]->text(), expected[i].first);
    form->open();
    form->setResult(-1);
    buttons[i]->click();
    if (expected[i].second == 0) {
      EXPECT_TRUE(form->isVisible());  // Help leaves the dialog open
      EXPECT_EQ(form->result(), -1);
      form->done(mrOk);
    } else {
      EXPECT_FALSE(form->isVisible());
      EXPECT_EQ(form->result(), expected[i].second);
    }
  }
}

std::vector<std::pair<QString, int>> g_help_calls;

TEST(MessageForm, HelpShowsTheTopicAndStaysOpen) {
  HelpHandler previous = SetHelpHandler([](const QString& file, int context) {
    g_help_calls.push_back({file, context});
  });
  auto form = BuildMessageForm("x", mkInformation, mbYesNo | ButtonSet(mbHelp));
  form->SetHelpContext(42);
  form->SetHelpFile("datovrat.chm");
  form->open();
  form->findChild<QPushButton*>("Help")->click();
  EXPECT_TRUE(form->isVisible());
  ASSERT_EQ(g_help_calls.size(), 1u);
  EXPECT_EQ(g_help_calls[0], (std::pair<QString, int>{"datovrat.chm", 42}));
  form->done(mrNo);
  SetHelpHandler(previous);
}

TEST(MessageForm, DefaultAndCancelRolesFollowTheSet) {
  struct Case {
    TMessageButtons buttons;
    const char* default_name;  // nullptr: no button has the role
    const char* cancel_name;
  };
  const Case cases[] = {
      {ButtonSet(mbOK) | ButtonSet(mbCancel), "OK", "Cancel"},
      {mbYesNo | ButtonSet(mbCancel), "Yes", "Cancel"},
      {ButtonSet(mbRetry) | ButtonSet(mbCancel), "Retry", "Cancel"},
      {ButtonSet(mbOK), "OK", "OK"},
      {ButtonSet(mbAbort) | ButtonSet(mbRetry) | ButtonSet(mbIgnore), "Retry", nullptr},
      {ButtonSet(mbAbort) | ButtonSet(mbIgnore), nullptr, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.buttons);
    auto form = BuildMessageForm("x", mkWarning, c.buttons);
    auto name = [](QPushButton* b) { return b ? b->objectName().toStdString() : std::string(); };
    EXPECT_EQ(name(form->DefaultButton()), c.default_name ? c.default_name : "");
    EXPECT_EQ(name(form->CancelButton()), c.cancel_name ? c.cancel_name : "");
    for (QPushButton* b : ButtonsOf(form.get()))
      EXPECT_EQ(b->isDefault(), c.default_name && b->objectName() == c.default_name);
    if (!c.cancel_name) {
      // Without a cancel button Esc does nothing at all.
      EXPECT_EQ(ResultOfKey(*form, Qt::Key_Escape), -1);
      form->done(mrAbort);
    }
  }
}

TEST(MessageForm, TitlesAndIconsByKind) {
  platform::SetApplicationTitle("Datovrat");
  struct Case {
    TMessageKind kind;
    QString title;
    QStyle::StandardPixmap icon;
    bool has_icon;
  };
  const Case cases[] = {
      {mkWarning, "Upozornění", QStyle::SP_MessageBoxWarning, true},
      {mkError, "Chyba", QStyle::SP_MessageBoxCritical, true},
      {mkInformation, "Informace", QStyle::SP_MessageBoxInformation, true},
      {mkConfirmation, "Potvrzení", QStyle::SP_MessageBoxQuestion, true},
      {mkCustom, "Datovrat", QStyle::SP_MessageBoxQuestion, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.title.toStdString());
    auto form = BuildMessageForm("x", c.kind, mbYesNo);
    EXPECT_EQ(form->windowTitle(), c.title);
    auto* image = form->findChild<QLabel*>("Image");
    ASSERT_EQ(image != nullptr, c.has_icon);
    if (!image) continue;
    const QImage expected = form->style()->standardIcon(c.icon).pixmap(32, 32).toImage();
    EXPECT_EQ(image->pixmap().toImage(), expected);
    EXPECT_EQ(image->geometry(),
              QRect(form->Metrics().horizontal_margin, form->Metrics().vertical_margin, 32, 32));
  }
}

TEST(MessageForm, MetricsFollowTheFontInUse) {
  auto form = BuildMessageForm("Chcete přerušit operaci?", mkConfirmation, mbYesNoYesToAll);
  const TMessageMetrics& m = form->Metrics();
  const QFontMetrics fm(form->font());
  const int x = fm.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz") / 52;
  const int y = fm.height();
  ASSERT_GT(x, 0);
  EXPECT_EQ(m.base_x, x);
  EXPECT_EQ(m.base_y, y);
  EXPECT_EQ(m.horizontal_margin, MulDiv(8, x, 4));
  EXPECT_EQ(m.vertical_margin, MulDiv(8, y, 8));
  EXPECT_EQ(m.horizontal_spacing, MulDiv(10, x, 4));
  EXPECT_EQ(m.vertical_spacing, MulDiv(10, y, 8));
  EXPECT_EQ(m.button_height, MulDiv(14, y, 8));
  EXPECT_EQ(m.button_spacing, MulDiv(4, x, 4));
  EXPECT_EQ(m.button_width, std::max({MulDiv(50, x, 4), CachedButtonWidth(mbYes),
                                      CachedButtonWidth(mbNo), CachedButtonWidth(mbYesToAll)}));
  EXPECT_EQ(m.text_width, fm.horizontalAdvance("Chcete přerušit operaci?"));
  EXPECT_EQ(m.icon_text_width, m.text_width + 32 + m.horizontal_spacing);
  EXPECT_EQ(m.icon_text_height, std::max(m.text_height, 32));
  EXPECT_EQ(m.button_row_width, 3 * m.button_width + 2 * m.button_spacing);
  EXPECT_EQ(m.client_width,
            std::max(m.icon_text_width, m.button_row_width) + 2 * m.horizontal_margin);
  EXPECT_EQ(m.client_height,
            m.icon_text_height + m.button_height + m.vertical_spacing + 2 * m.vertical_margin);
  EXPECT_EQ(form->size(), QSize(m.client_width, m.client_height));

  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  EXPECT_EQ(form->pos(), QPoint(screen.width() / 2 - m.client_width / 2,
                                screen.height() / 2 - m.client_height / 2));

  auto* message = form->findChild<QLabel*>("Message");
  ASSERT_NE(message, nullptr);
  EXPECT_EQ(message->geometry(), QRect(m.icon_text_width - m.text_width + m.horizontal_margin,
                                       m.vertical_margin, m.text_width, m.text_height));
  int left = (m.client_width - m.button_row_width) / 2;
  for (QPushButton* b : ButtonsOf(form.get())) {
    EXPECT_EQ(b->geometry(),
              QRect(left, m.icon_text_height + m.vertical_margin + m.vertical_spacing,
                    m.button_width, m.button_height));
    left += m.button_width + m.button_spacing;
  }

  // Without an icon the text starts at the margin and nothing is reserved for one.
  auto custom = BuildMessageForm("x", mkCustom, 0);
  EXPECT_EQ(custom->Metrics().icon_text_width, custom->Metrics().text_width);
  EXPECT_EQ(custom->Metrics().button_row_width, 0);
  EXPECT_EQ(custom->findChild<QLabel*>("Message")->x(), custom->Metrics().horizontal_margin);
}

TEST(MessageForm, LineBreaksAndLongTextsWrap) {
  const auto one_line = BuildMessageForm("Řádek jedna Řádek dva", mkCustom, mbYesNo);
  const auto two_lines = BuildMessageForm("Řádek jedna\r\nŘádek dva", mkCustom, mbYesNo);
  const auto first_line = BuildMessageForm("Řádek jedna", mkCustom, mbYesNo);
  const int line = first_line->Metrics().text_height;
  EXPECT_EQ(two_lines->Metrics().text_width, first_line->Metrics().text_width);
  EXPECT_GT(two_lines->Metrics().text_height, line);
  EXPECT_LT(two_lines->Metrics().text_height, 3 * line);
  EXPECT_EQ(one_line->Metrics().text_height, line);
  // The label keeps the text it was given.
  EXPECT_EQ(two_lines->findChild<QLabel*>("Message")->text(), "Řádek jedna\r\nŘádek dva");

  QString text;
  for (int i = 0; i < 200; ++i) text += "slovo ";
  const auto wrapped = BuildMessageForm(text, mkError, mbYesNo);
  const int half_screen = QGuiApplication::primaryScreen()->geometry().width() / 2;
  EXPECT_LE(wrapped->Metrics().text_width, half_screen);
  EXPECT_GT(wrapped->Metrics().text_width, half_screen * 3 / 4);
  EXPECT_GT(wrapped->Metrics().text_height, 5 * line);
}

TEST(MessageForm, RightToLeftMirrorsTheMessage) {
  QGuiApplication::setLayoutDirection(Qt::RightToLeft);
  auto form = BuildMessageForm("x", mkWarning, mbYesNo);
  QGuiApplication::setLayoutDirection(Qt::LeftToRight);
  const TMessageMetrics& m = form->Metrics();
  const int left = m.icon_text_width - m.text_width + m.horizontal_margin;
  EXPECT_EQ(form->layoutDirection(), Qt::RightToLeft);
  EXPECT_EQ(form->findChild<QLabel*>("Message")->x(), m.client_width - left - m.text_width);
}

TEST(MessageForm, ButtonWidthsAreMeasuredOnceForTheWholeRun) {
  const QFont original = QApplication::font("QMessageBox");
  const std::vector<TMessageButton> kinds = {mbAll, mbNoToAll, mbRetry};
  std::vector<int> before;
  for (auto k : kinds) before.push_back(CachedButtonWidth(k));
  const TMessageButtons set = ButtonSet(mbAll) | ButtonSet(mbNoToAll) | ButtonSet(mbRetry);
  auto first = BuildMessageForm("x", mkWarning, set);
  const QFontMetrics fm(first->font());
  const QString shown[] = {"Všechno", "Ne všem", "Znovu"};  // the "&" is not drawn
  std::vector<int> measured;
  for (std::size_t i = 0; i < kinds.size(); ++i) {
    measured.push_back(CachedButtonWidth(kinds[i]));
    EXPECT_EQ(measured[i], before[i] != 0 ? before[i] : fm.horizontalAdvance(shown[i]) + 8);
  }

  QFont big = original;
  big.setPointSize(original.pointSize() > 0 ? original.pointSize() * 3 : 30);
  QApplication::setFont(big, "QMessageBox");
  auto second = BuildMessageForm("x", mkWarning, set);
  QApplication::setFont(original, "QMessageBox");
  EXPECT_GT(second->Metrics().base_x, first->Metrics().base_x);
  for (std::size_t i = 0; i < kinds.size(); ++i)
    EXPECT_EQ(CachedButtonWidth(kinds[i]), measured[i]);
}

TEST(MessageForm, ShowMessageFormRunsModallyAndFreesTheForm) {
  QPoint position;
  QString title;
  WhenModalShows([&](QWidget* modal) {
    position = modal->pos();
    title = modal->windowTitle();
    QTest::keyClick(modal->focusWidget() ? modal->focusWidget() : modal, Qt::Key_Escape);
  });
  EXPECT_EQ(ShowMessageFormAt("Chcete přerušit operaci?", mkConfirmation, mbYesNo, 0, 10, -1),
            mrNo);
  EXPECT_EQ(title, "Potvrzení");
  EXPECT_EQ(position.x(), 10);
  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  EXPECT_GT(position.y(), screen.height() / 4);  // the top stays centred
  EXPECT_EQ(QApplication::topLevelWidgets().count(), 0);

  WhenModalShows([](QWidget* modal) {
    QTest::keyClick(modal->focusWidget() ? modal->focusWidget() : modal, Qt::Key_Return);
  });
  EXPECT_EQ(ShowMessageForm("Pokračovat?", mkConfirmation, mbYesNoYesToAll, 0), mrYes);
}

TEST(ApplicationErrorHandler, ShowsTheErrorWithTheTitleAStopIconAndOK) {
  platform::SetApplicationTitle("Datovrat");
  platform::Hooks saved = platform::InstallHooks({});
  InstallQtHooks();
  struct Seen {
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    int buttons = 0;
  };
  std::vector<Seen> seen;
  auto inspect = [&](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    ASSERT_NE(box, nullptr);
    seen.push_back(
        {box->windowTitle(), box->text(), box->icon(), static_cast<int>(box->buttons().size())});
    EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
    box->button(QMessageBox::Ok)->click();
  };
  WhenModalShows(inspect);
  platform::HandleApplicationException(
      std::make_exception_ptr(std::runtime_error("Table 'Zákazníci' not found")));
  WhenModalShows(inspect);
  platform::HandleApplicationException(std::make_exception_ptr(std::runtime_error("Done.")));
  WhenModalShows(inspect);
  platform::ShowMessage(
      "If You not enter Username and Password You may not gain access to your data!");
  platform::InstallHooks(saved);

  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0].title, "Datovrat");
  EXPECT_EQ(seen[0].text, "Table 'Zákazníci' not found.");
  EXPECT_EQ(seen[0].icon, QMessageBox::Critical);
  EXPECT_EQ(seen[0].buttons, 1);
  EXPECT_EQ(seen[1].text, "Done.");
  EXPECT_EQ(seen[2].title, "Datovrat");
  EXPECT_EQ(seen[2].icon, QMessageBox::NoIcon);
  EXPECT_EQ(seen[2].text,
            "If You not enter Username and Password You may not gain access to your data!");
}

// An object whose event handling fails, as a handler with an error in it does.
class FailingObject : public QObject {
 public:
  bool event(QEvent* e) override {
    if (e->type() == QEvent::User) throw std::runtime_error("from an event");
    return QObject::event(e);
  }
};

TEST(ApplicationErrorHandler, ErrorsLeavingEventHandlersReachItAndTheLoopGoesOn) {
  std::vector<std::string> reported;
  platform::Hooks hooks;
  hooks.handle_exception = [&](std::exception_ptr e) {
    reported.push_back(platform::ExceptionMessage(e));
  };
  platform::Hooks saved = platform::InstallHooks(hooks);

  QPushButton button("&Kopírovat...");
  int clicks = 0;
  QObject::connect(&button, &QPushButton::clicked, Guarded([&] {
    ++clicks;
    core::DatabaseError("Cannot open database '/tmp/x.mdb'");
  }));
  button.show();
  QTest::mouseClick(&button, Qt::LeftButton);
  QTest::mouseClick(&button, Qt::LeftButton);
  QTimer::singleShot(0, Guarded([] { throw std::runtime_error("from a timer"); }));
  QCoreApplication::processEvents();
  // What gets past a guard is caught where the application delivers events.
  FailingObject failing;
  QEvent user(QEvent::User);
  EXPECT_FALSE(QCoreApplication::sendEvent(&failing, &user));
  platform::InstallHooks(saved);

  EXPECT_EQ(clicks, 2);
  EXPECT_EQ(reported, (std::vector<std::string>{"Cannot open database '/tmp/x.mdb'",
                                                "Cannot open database '/tmp/x.mdb'", "from a timer",
                                                "from an event"}));
}

TEST(ApplicationErrorHandler, TheTitleIsTheApplicationsAndTheDialogs) {
  TApplication::SetTitle("Datovrat");
  EXPECT_EQ(platform::ApplicationTitle(), "Datovrat");
  EXPECT_EQ(QGuiApplication::applicationDisplayName(), "Datovrat");
  EXPECT_EQ(BuildMessageForm("x", mkCustom, mbYesNo)->windowTitle(), "Datovrat");
  platform::SetApplicationTitle("");
  EXPECT_EQ(ApplicationTitle(), QCoreApplication::applicationName());
}

}  // namespace
}  // namespace ui
