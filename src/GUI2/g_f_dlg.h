// File and folder dialogs of the wizard. Filters are given the way the
// wizard's texts write them: "Name|pattern|Name|pattern|".
#pragma once

#include <QString>

class QWidget;

// "Profile Files (.tlvx)|*.tlvx|All Files (*.*)|*.*|" as Qt's filter text.
QString gui_qt_filter(const QString& filter);
// The chosen name with "." and the extension appended unless it already
// ends with them (in any case).
QString gui_with_extension(const QString& path, const QString& extension);

class file_dialog {
 public:
  file_dialog(QWidget* owner, const QString& filter, const QString& title, const QString& initial)
      : m_owner(owner), m_filter(filter), m_title(title), m_initial(initial) {}
  virtual ~file_dialog() = default;
  // Runs the dialog; true when the user chose a file (path()).
  virtual bool show() = 0;
  const QString& path() const { return m_path; }

 protected:
  QWidget* m_owner;
  QString m_filter, m_title, m_initial, m_path;
};

class open_file_dialog : public file_dialog {
 public:
  using file_dialog::file_dialog;
  bool show() override;
};

class save_file_dialog : public file_dialog {
 public:
  save_file_dialog(QWidget* owner, const QString& filter, const QString& title,
                   const QString& initial, const QString& extension)
      : file_dialog(owner, filter, title, initial), m_extension(extension) {}
  bool show() override;

 private:
  QString m_extension;
};

// The folder browser; an empty text when the user cancelled.
QString gui_browse_folder(QWidget* owner, const QString& title, const QString& start);
