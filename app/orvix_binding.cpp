#include "orvix_binding.h"

#include <QCoreApplication>
#include <QDir>

// Declarations only: the types of the exports. Nothing is linked.
#include "orvix32.h"

namespace cardbench {
namespace {
constexpr const char* kLibraryName = "ORVIX32";
}

OrvixBinding::OrvixBinding() = default;
OrvixBinding::OrvixBinding(QString fixedPath) : fixedPath_(std::move(fixedPath)) {}
OrvixBinding::~OrvixBinding() = default;  // the library stays mapped until exit

QString OrvixBinding::loadedFrom() const {
  return library_ && library_->isLoaded() ? library_->fileName() : QString();
}

void OrvixBinding::load() {
  if (library_ && library_->isLoaded()) return;
  // Beside the program, then where it is installed (the library folder of the
  // same prefix), then the system's; installed copies go by their soname
  // (libORVIX32.so.7: the unversioned name comes with the development files).
  constexpr int kAnyVersion = -1;
  QList<std::pair<QString, int>> candidates;
  if (!fixedPath_.isEmpty()) {
    candidates.append({fixedPath_, kAnyVersion});
  } else {
    const QDir appDir(QCoreApplication::applicationDirPath());
    const QString installed =
        appDir.filePath(QStringLiteral(ORVIX32_LIBDIR_FROM_BINDIR "/") + kLibraryName);
    candidates.append({appDir.filePath(kLibraryName), kAnyVersion});
    candidates.append({installed, ORVIX32_SOVERSION});
    candidates.append({QString::fromLatin1(kLibraryName), ORVIX32_SOVERSION});
    candidates.append({QString::fromLatin1(kLibraryName), kAnyVersion});
  }
  QString lastError;
  for (const auto& [candidate, version] : candidates) {
    auto library = version == kAnyVersion ? std::make_unique<QLibrary>(candidate)
                                          : std::make_unique<QLibrary>(candidate, version);
    if (library->load()) {
      library_ = std::move(library);
      return;
    }
    lastError = library->errorString();
  }
  throw BindingError(
      QStringLiteral("找不到动态链接库 %1，无法调用读写器函数。\n%2").arg(kLibraryName, lastError));
}

QFunctionPointer OrvixBinding::resolve(const char* name) {
  const QByteArray key(name);
  if (auto it = functions_.constFind(key); it != functions_.constEnd()) return *it;
  load();
  QFunctionPointer p = library_->resolve(name);
  if (!p)
    throw BindingError(QStringLiteral("在动态链接库 %1 中找不到函数 %2。")
                           .arg(kLibraryName, QString::fromLatin1(name)));
  functions_.insert(key, p);
  return p;
}

using U8 = std::uint8_t;
using I32 = std::int32_t;

// Each call resolves the export by name and calls it with the type that the
// library's header declares for it.
#define ORVIX_CALL(name, ...) fn<decltype(::name)>(#name)(__VA_ARGS__)

namespace {
// The library writes serials, type codes and module numbers into the
// caller's memory byte by byte; 32-bit variables are handed over as bytes.
U8* bytesOf(I32* p) { return reinterpret_cast<U8*>(p); }
}  // namespace

int OrvixBinding::AutoLinkCom(I32* port) { return ORVIX_CALL(AutoLinkCom, port); }
int OrvixBinding::UnLinkCom() { return ORVIX_CALL(UnLinkCom); }
int OrvixBinding::DEVVER(U8* version) { return ORVIX_CALL(DEVVER, version); }
int OrvixBinding::ALARM(int select, int a, int b, int c) {
  return ORVIX_CALL(ALARM, select, a, b, c);
}
int OrvixBinding::RFMifare_Mcmno(I32* info) { return ORVIX_CALL(RFMifare_Mcmno, bytesOf(info)); }
int OrvixBinding::RFMifare_TransKey(int sector, const U8* key) {
  return ORVIX_CALL(RFMifare_TransKey, sector, key);
}
int OrvixBinding::RFMifare_Authmode(int mode) { return ORVIX_CALL(RFMifare_Authmode, mode); }
int OrvixBinding::RFMifare_GetType(I32* type) {
  return ORVIX_CALL(RFMifare_GetType, bytesOf(type));
}
int OrvixBinding::RFMifare_GetSnr(I32* serial) {
  return ORVIX_CALL(RFMifare_GetSnr, bytesOf(serial));
}
int OrvixBinding::RFMifare_ReadBlock(int block, I32 serial, U8* data) {
  return ORVIX_CALL(RFMifare_ReadBlock, block, serial, data);
}
int OrvixBinding::RFMifare_WriteBlock(int block, I32 serial, U8* data) {
  return ORVIX_CALL(RFMifare_WriteBlock, block, serial, data);
}
int OrvixBinding::RFMifare_WriteKey(int sector, I32 serial, const U8* key, int last) {
  return ORVIX_CALL(RFMifare_WriteKey, sector, serial, key, last);
}
int OrvixBinding::RFMifare_ReadValue(int block, I32 serial, I32* value) {
  return ORVIX_CALL(RFMifare_ReadValue, block, serial, value);
}
int OrvixBinding::RFMifare_WriteValue(int block, I32 serial, I32* value) {
  return ORVIX_CALL(RFMifare_WriteValue, block, serial, value);
}
int OrvixBinding::RFMifare_IncrementValue(int block, I32 serial, I32* value) {
  return ORVIX_CALL(RFMifare_IncrementValue, block, serial, value);
}
int OrvixBinding::RFMifare_DecrementValue(int block, I32 serial, I32* value) {
  return ORVIX_CALL(RFMifare_DecrementValue, block, serial, value);
}
int OrvixBinding::RFMifare_LoadKey(int mode, int sector, const U8* key) {
  return ORVIX_CALL(RFMifare_LoadKey, mode, sector, key);
}
int OrvixBinding::RFMifare_Request(int mode, I32* type) {
  return ORVIX_CALL(RFMifare_Request, mode, bytesOf(type));
}
int OrvixBinding::RFMifare_AntiColl(I32* serial) {
  return ORVIX_CALL(RFMifare_AntiColl, bytesOf(serial));
}
int OrvixBinding::RFMifare_Select(I32 serial) { return ORVIX_CALL(RFMifare_Select, serial); }
int OrvixBinding::RFMifare_Authentication(int keyType, int sector, int block) {
  return ORVIX_CALL(RFMifare_Authentication, keyType, sector, block);
}
int OrvixBinding::RFMifare_Read(int block, U8* data) {
  return ORVIX_CALL(RFMifare_Read, block, data);
}
int OrvixBinding::RFMifare_Write(int block, const U8* data) {
  return ORVIX_CALL(RFMifare_Write, block, data);
}
int OrvixBinding::RFMifare_Increment(int block, I32 value) {
  return ORVIX_CALL(RFMifare_Increment, block, value);
}
int OrvixBinding::RFMifare_Decrment(int block, I32 value) {
  return ORVIX_CALL(RFMifare_Decrment, block, value);
}
int OrvixBinding::RFMifare_Halt() { return ORVIX_CALL(RFMifare_Halt); }

#undef ORVIX_CALL

}  // namespace cardbench
