#pragma once
// Takes the desktop's "open" for web and mail addresses while it lives, and records the
// addresses instead of starting a browser or a mail program.

#include <QDesktopServices>
#include <QObject>
#include <QStringList>
#include <QUrl>

namespace ecr::test {

class UrlOpenerRecorder : public QObject {
  Q_OBJECT

 public:
  UrlOpenerRecorder() {
    for (const char* scheme : kSchemes) QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), this, "Open");
  }
  ~UrlOpenerRecorder() override {
    for (const char* scheme : kSchemes) QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
  }

  QStringList opened;

 public slots:
  void Open(const QUrl& url) { opened.push_back(url.toString()); }

 private:
  static constexpr const char* kSchemes[] = {"http", "https", "mailto", "file"};
};

}  // namespace ecr::test
