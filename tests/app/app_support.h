// Helpers for driving the main window as a user would: answering its modal dialogs (file
// dialog, questions, messages) from a script, recording what the top-level error handler was
// given, and small dBase tables written byte by byte.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cstdint>
#include <deque>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "platform/hooks.h"
#include "qt_app.h"

namespace app_test {

// One modal window as it was seen: its title and, for the program's message dialog, its text.
struct SeenModal {
  QString title;
  QString text;
};

// Answers modal windows in the order they appear, one scripted step each. A modal that comes
// when no step is left is closed and counted as unexpected, so a test never hangs on it.
class ModalScript {
 public:
  using Step = std::function<void(QWidget* modal)>;

  ModalScript() {
    timer_.setInterval(5);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
    timer_.start();
  }
  ~ModalScript() { timer_.stop(); }

  ModalScript& Then(Step step) {
    steps_.push_back(std::move(step));
    return *this;
  }

  const std::vector<SeenModal>& Seen() const { return seen_; }
  int Unexpected() const { return unexpected_; }
  bool Done() const { return steps_.empty(); }

 private:
  void Poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible()) {
      last_ = nullptr;
      return;
    }
    if (modal == last_) return;
    last_ = modal;
    SeenModal seen{modal->windowTitle(), {}};
    if (auto* message = modal->findChild<QLabel*>(QStringLiteral("Message")))
      seen.text = message->text();
    seen_.push_back(seen);
    if (steps_.empty()) {
      ++unexpected_;
      QMetaObject::invokeMethod(modal, "reject", Qt::QueuedConnection);
      return;
    }
    Step step = std::move(steps_.front());
    steps_.pop_front();
    // Run the step from the event loop rather than inside the timer's own slot, so that a
    // step that opens a nested loop does not stop the polling.
    // A dialog object shown again (the window's file dialog) counts as a new modal once the
    // step has closed it.
    QTimer::singleShot(0, modal, [this, step, modal] {
      step(modal);
      if (!modal->isVisible() && last_ == modal) last_ = nullptr;
    });
  }

  QTimer timer_;
  std::deque<Step> steps_;
  std::vector<SeenModal> seen_;
  QPointer<QWidget> last_;
  int unexpected_ = 0;
};

// Steps.
inline ModalScript::Step Click(const char* button_name) {
  return [button_name](QWidget* modal) {
    auto* button = modal->findChild<QPushButton*>(QString::fromLatin1(button_name));
    ASSERT_NE(button, nullptr) << button_name;
    button->click();
  };
}
inline ModalScript::Step Key(Qt::Key key) {
  return [key](QWidget* modal) {
    QTest::keyClick(modal->focusWidget() ? modal->focusWidget() : modal, key);
  };
}
inline ModalScript::Step CloseBox() {
  return [](QWidget* modal) { modal->close(); };
}
// Types the names into the file dialog's name box (several in double quotes, as the dialog
// writes them) and confirms.
inline ModalScript::Step ChooseFiles(QStringList names,
                                     std::function<void(QFileDialog*)> inspect = {}) {
  return [names, inspect](QWidget* modal) {
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    ASSERT_NE(dialog, nullptr) << modal->metaObject()->className();
    if (inspect) inspect(dialog);
    auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(edit, nullptr);
    QString text;
    if (names.size() == 1) {
      text = names.first();
    } else {
      for (const QString& n : names) text += QStringLiteral("\"%1\" ").arg(n);
    }
    edit->setText(text);
    QMetaObject::invokeMethod(dialog, "accept", Qt::DirectConnection);
  };
}
inline ModalScript::Step CancelFileDialog(std::function<void(QFileDialog*)> inspect = {}) {
  return [inspect](QWidget* modal) {
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    ASSERT_NE(dialog, nullptr) << modal->metaObject()->className();
    if (inspect) inspect(dialog);
    dialog->reject();
  };
}

// Replaces the top-level error handler with a recording one for the test's scope.
class RecordedErrors {
 public:
  RecordedErrors() {
    platform::Hooks hooks = platform::CurrentHooks();
    hooks.handle_exception = [this](std::exception_ptr e) {
      messages_.push_back(platform::ExceptionMessage(e));
    };
    saved_ = platform::InstallHooks(hooks);
  }
  ~RecordedErrors() { platform::InstallHooks(saved_); }
  const std::vector<std::string>& Messages() const { return messages_; }

 private:
  platform::Hooks saved_;
  std::vector<std::string> messages_;
};

// A dBase III table: character ('C') and numeric ('N') fields, values given as the texts the
// record holds (padded here); code page 1250 marked in the header so that nothing is guessed.
struct DbfField {
  std::string name;
  char type;
  int length;
  int decimals = 0;
};

inline std::string MakeDbf(const std::vector<DbfField>& fields,
                           const std::vector<std::vector<std::string>>& records,
                           std::uint8_t language_driver = 0xC8) {
  auto put16 = [](std::string& s, int v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>((v >> 8) & 0xFF);
  };
  auto put32 = [&](std::string& s, std::uint32_t v) {
    put16(s, static_cast<int>(v & 0xFFFF));
    put16(s, static_cast<int>(v >> 16));
  };
  int record_length = 1;
  for (const auto& f : fields) record_length += f.length;
  std::string out;
  out += '\x03';
  out += static_cast<char>(124);  // 2024-06-15
  out += static_cast<char>(6);
  out += static_cast<char>(15);
  put32(out, static_cast<std::uint32_t>(records.size()));
  put16(out, 32 + 32 * static_cast<int>(fields.size()) + 1);
  put16(out, record_length);
  out += std::string(17, '\0');
  out += static_cast<char>(language_driver);  // byte 29
  out += std::string(2, '\0');
  for (const auto& f : fields) {
    std::string d(32, '\0');
    d.replace(0, f.name.size(), f.name);
    d[11] = f.type;
    d[16] = static_cast<char>(f.length);
    d[17] = static_cast<char>(f.decimals);
    out += d;
  }
  out += '\x0D';
  for (const auto& r : records) {
    out += ' ';
    for (std::size_t i = 0; i < fields.size(); ++i) {
      std::string v = i < r.size() ? r[i] : std::string();
      v.resize(static_cast<std::size_t>(fields[i].length), ' ');
      if (fields[i].type == 'N') {  // numbers are right-aligned
        std::string t = i < r.size() ? r[i] : std::string();
        v = std::string(static_cast<std::size_t>(fields[i].length) - t.size(), ' ') + t;
      }
      out += v;
    }
  }
  out += '\x1A';
  return out;
}

inline void WriteFile(const QString& path, const std::string& bytes) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  std::ofstream out(path.toStdString(), std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << path.toStdString();
}

inline void CopyInto(const QString& from, const QString& to) {
  QDir().mkpath(QFileInfo(to).absolutePath());
  QFile::remove(to);
  ASSERT_TRUE(QFile::copy(from, to)) << from.toStdString() << " -> " << to.toStdString();
}

// `count` records numbered from 1: ID N(5), NAME C(12).
inline std::string NumberedTable(int count) {
  std::vector<std::vector<std::string>> records;
  for (int i = 1; i <= count; ++i)
    records.push_back({std::to_string(i), "record " + std::to_string(i)});
  return MakeDbf({{"ID", 'N', 5}, {"NAME", 'C', 12}}, records);
}

// Runs a shell command; returns its exit status and standard output.
inline int RunCommand(const std::string& command, std::string& output) {
  output.clear();
  FILE* p = popen(command.c_str(), "r");
  if (!p) return -1;
  char buf[4096];
  std::size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) output.append(buf, n);
  return pclose(p);
}

// The rows of a table as mdbtools exports them (header line left out).
inline std::vector<std::string> MdbRows(const QString& database, const std::string& table) {
  std::string out;
  const int status =
      RunCommand("mdb-export -H '" + database.toStdString() + "' '" + table + "'", out);
  EXPECT_EQ(status, 0) << out;
  std::vector<std::string> rows;
  std::size_t start = 0;
  while (start < out.size()) {
    std::size_t end = out.find('\n', start);
    if (end == std::string::npos) end = out.size();
    if (end > start) rows.push_back(out.substr(start, end - start));
    start = end + 1;
  }
  return rows;
}

}  // namespace app_test
