// The ORVIX32 reader library, bound by name at run time. The library is
// looked for first in the program's own folder, then on the system's library
// path; each function is resolved by name on its first call. A library or
// function that cannot be found raises BindingError, which the window turns
// into an error message instead of ending the program.
#pragma once

#include <QHash>
#include <QLibrary>
#include <QString>
#include <cstdint>
#include <memory>
#include <stdexcept>

namespace cardbench {

class BindingError : public std::runtime_error {
 public:
  explicit BindingError(const QString& message)
      : std::runtime_error(message.toStdString()), message_(message) {}
  const QString& message() const { return message_; }

 private:
  QString message_;
};

class OrvixBinding {
 public:
  // Looks for the library in the program's folder, then on the system path.
  OrvixBinding();
  // Loads the library from this file only (tests point it at missing files).
  explicit OrvixBinding(QString fixedPath);
  ~OrvixBinding();
  OrvixBinding(const OrvixBinding&) = delete;
  OrvixBinding& operator=(const OrvixBinding&) = delete;

  // The file the library was loaded from, empty before the first call.
  QString loadedFrom() const;

  // Link management and reader identity.
  int AutoLinkCom(std::int32_t* port);
  int UnLinkCom();
  int DEVVER(std::uint8_t* version);
  int ALARM(int select, int a, int b, int c);

  // The Mifare family. Buffers are the caller's; sizes as the library names
  // them (serial and type 4 bytes, data 16 bytes, value 4 bytes, key 6 bytes).
  int RFMifare_Mcmno(std::int32_t* info);
  int RFMifare_TransKey(int sector, const std::uint8_t* key);
  int RFMifare_Authmode(int mode);
  int RFMifare_GetType(std::int32_t* type);
  int RFMifare_GetSnr(std::int32_t* serial);
  int RFMifare_ReadBlock(int block, std::int32_t serial, std::uint8_t* data);
  int RFMifare_WriteBlock(int block, std::int32_t serial, std::uint8_t* data);
  int RFMifare_WriteKey(int sector, std::int32_t serial, const std::uint8_t* key, int last);
  int RFMifare_ReadValue(int block, std::int32_t serial, std::int32_t* value);
  int RFMifare_WriteValue(int block, std::int32_t serial, std::int32_t* value);
  int RFMifare_IncrementValue(int block, std::int32_t serial, std::int32_t* value);
  int RFMifare_DecrementValue(int block, std::int32_t serial, std::int32_t* value);
  int RFMifare_LoadKey(int mode, int sector, const std::uint8_t* key);
  int RFMifare_Request(int mode, std::int32_t* type);
  int RFMifare_AntiColl(std::int32_t* serial);
  int RFMifare_Select(std::int32_t serial);
  int RFMifare_Authentication(int keyType, int sector, int block);
  int RFMifare_Read(int block, std::uint8_t* data);
  int RFMifare_Write(int block, const std::uint8_t* data);
  int RFMifare_Increment(int block, std::int32_t value);
  int RFMifare_Decrment(int block, std::int32_t value);
  int RFMifare_Halt();

 private:
  QFunctionPointer resolve(const char* name);
  template <class F>
  F* fn(const char* name) {
    return reinterpret_cast<F*>(resolve(name));
  }
  void load();

  QString fixedPath_;
  std::unique_ptr<QLibrary> library_;
  QHash<QByteArray, QFunctionPointer> functions_;
};

}  // namespace cardbench
