#include "server_app/language_module.h"

#include <QCoreApplication>
#include <QFile>
#include <QString>

namespace ecr {
namespace {

bool ReadModule(const std::string& path, QByteArray& data) {
  QFile file(QString::fromStdString(path));
  if (!file.open(QIODevice::ReadOnly)) return false;
  data = file.readAll();
  return !data.isEmpty();
}

}  // namespace

LanguageModule::~LanguageModule() {
  if (installed_) QCoreApplication::removeTranslator(&translator_);
}

bool LanguageModule::Loads(const std::string& path) {
  QByteArray data;
  QTranslator probe;
  return ReadModule(path, data) &&
         probe.load(reinterpret_cast<const uchar*>(data.constData()), static_cast<int>(data.size()));
}

bool LanguageModule::InstallFirst(const std::vector<std::string>& candidates) {
  for (const std::string& candidate : candidates) {
    QByteArray data;
    if (!ReadModule(candidate, data)) continue;
    if (installed_) {
      QCoreApplication::removeTranslator(&translator_);
      installed_ = false;
    }
    data_ = std::move(data);
    if (!translator_.load(reinterpret_cast<const uchar*>(data_.constData()), static_cast<int>(data_.size())))
      continue;
    installed_ = QCoreApplication::installTranslator(&translator_);
    if (installed_) {
      path_ = candidate;
      return true;
    }
  }
  data_.clear();
  path_.clear();
  return false;
}

}  // namespace ecr
