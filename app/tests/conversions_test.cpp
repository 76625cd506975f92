// The text conversions, table by table.
#include "conversions.h"

#include <QtTest>
#include <array>
#include <optional>

#include "module1.h"

using namespace cardbench;

Q_DECLARE_METATYPE(std::optional<qint32>)

class ConversionsTest : public QObject {
  Q_OBJECT
 private slots:
  void hexTextToBytes_data();
  void hexTextToBytes();
  void hexTextToBytesLeavesCounterAndTail();
  void byteHex_data();
  void byteHex();
  void zeroPaddedHex_data();
  void zeroPaddedHex();
  void byteCount_data();
  void byteCount();
  void hexDump();
  void versionLine_data();
  void versionLine();
  void decimalToAmount_data();
  void decimalToAmount();
  void amountText_data();
  void amountText();
  void hexKeys();
  void fixedTexts();
};

void ConversionsTest::hexTextToBytes_data() {
  QTest::addColumn<QString>("text");
  QTest::addColumn<int>("n");
  QTest::addColumn<QByteArray>("bytes");
  QTest::newRow("12 digits") << "A0A1A2A3A4A5" << 6 << QByteArray::fromHex("A0A1A2A3A4A5");
  QTest::newRow("lower case as upper")
      << "a0a1A2a3a4Ff" << 6 << QByteArray::fromHex("A0A1A2A3A4FF");
  QTest::newRow("10 digits: sixth byte 0")
      << "1122334455" << 6 << QByteArray::fromHex("112233445500");
  QTest::newRow("11 digits: lone last digit")
      << "11223344556" << 6 << QByteArray::fromHex("112233445506");
  QTest::newRow("blanks at both ends trimmed") << "   FFEE  " << 3 << QByteArray::fromHex("FFEE00");
  QTest::newRow("inner blank ends a pair") << "1 23" << 2 << QByteArray::fromHex("0123");
  QTest::newRow("pair starting with a blank") << "12 3" << 2 << QByteArray::fromHex("1200");
  QTest::newRow("pair stops at a non-digit") << "1G" << 1 << QByteArray::fromHex("01");
  QTest::newRow("non-digit first gives 0") << "G1FF" << 2 << QByteArray::fromHex("00FF");
  QTest::newRow("empty text") << "" << 4 << QByteArray::fromHex("00000000");
  QTest::newRow("padded fixed text") << "1234    " << 4 << QByteArray::fromHex("12340000");
  QTest::newRow("NUL characters give 0")
      << QString(12, QChar(u'\0')) << 6 << QByteArray::fromHex("000000000000");
  QTest::newRow("page of 8 digits") << "1234" << 8 << QByteArray::fromHex("1234000000000000");
}

void ConversionsTest::hexTextToBytes() {
  QFETCH(QString, text);
  QFETCH(int, n);
  QFETCH(QByteArray, bytes);
  std::array<std::uint8_t, 17> out;
  out.fill(0xEE);
  cardbench::hexTextToBytes(text, out, n);
  QCOMPARE(QByteArray(reinterpret_cast<const char*>(out.data()), n), bytes);
}

void ConversionsTest::hexTextToBytesLeavesCounterAndTail() {
  std::array<std::uint8_t, 17> out;
  out.fill(0x5A);
  std::int32_t counter = -7;
  cardbench::hexTextToBytes(QStringLiteral("01020304"), out, 4, counter);
  QCOMPARE(counter, 4);
  QCOMPARE(out[3], 0x04);
  QCOMPARE(out[4], 0x5A);  // bytes past n are not touched
  QCOMPARE(out[16], 0x5A);
}

void ConversionsTest::byteHex_data() {
  QTest::addColumn<int>("value");
  QTest::addColumn<QString>("text");
  QTest::newRow("0") << 0 << "00";
  QTest::newRow("0A") << 0x0A << "0A";
  QTest::newRow("12") << 0x12 << "12";
  QTest::newRow("FF") << 0xFF << "FF";
}

void ConversionsTest::byteHex() {
  QFETCH(int, value);
  QFETCH(QString, text);
  QCOMPARE(cardbench::byteHex(static_cast<std::uint8_t>(value)), text);
}

void ConversionsTest::zeroPaddedHex_data() {
  QTest::addColumn<qint32>("value");
  QTest::addColumn<QString>("text");
  QTest::newRow("5") << 5 << "00000005";
  QTest::newRow("0") << 0 << "00000000";
  QTest::newRow("-1") << -1 << "FFFFFFFF";
  QTest::newRow("most negative") << std::numeric_limits<qint32>::min() << "80000000";
  QTest::newRow("most positive") << std::numeric_limits<qint32>::max() << "7FFFFFFF";
  // Serial bytes 01 02 03 04 as the library writes them: byte 3 first.
  QTest::newRow("serial 01 02 03 04") << 0x04030201 << "04030201";
  QTest::newRow("leading zero digits") << 0x000ABCDE << "000ABCDE";
}

void ConversionsTest::zeroPaddedHex() {
  QFETCH(qint32, value);
  QFETCH(QString, text);
  QCOMPARE(cardbench::zeroPaddedHex(value), text);
}

void ConversionsTest::byteCount_data() {
  QTest::addColumn<QString>("text");
  QTest::addColumn<QString>("count");
  QTest::newRow("empty") << ""
                         << "0";
  QTest::newRow("1 digit") << "A"
                           << "0";
  QTest::newRow("11 digits") << "0123456789A"
                             << "5";
  QTest::newRow("12 digits") << "0123456789AB"
                             << "6";
  QTest::newRow("31 digits") << QString(31, u'F') << "15";
  QTest::newRow("32 digits") << QString(32, u'F') << "16";
}

void ConversionsTest::byteCount() {
  QFETCH(QString, text);
  QFETCH(QString, count);
  QCOMPARE(byteCountText(text), count);
}

void ConversionsTest::hexDump() {
  const std::array<std::uint8_t, 4> bytes{0x12, 0x0A, 0xFF, 0x00};
  std::int32_t counter = 0;
  QCOMPARE(hexDumpLine(bytes, 3, counter), QStringLiteral(" 12 0A FF"));
  QCOMPARE(counter, 3);
  QCOMPARE(hexDumpLine(bytes, 4, counter), QStringLiteral(" 12 0A FF 00"));
}

void ConversionsTest::versionLine_data() {
  QTest::addColumn<QByteArray>("bytes");
  QTest::addColumn<QString>("line");
  QTest::newRow("no leading zeros") << QByteArray::fromHex("01022A0000000000") << " 122A00000";
  QTest::newRow("example") << QByteArray::fromHex("0102000F10FF0000") << " 120F10FF00";
  QTest::newRow("begins 01 00 2A") << QByteArray::fromHex("01002A0000000000") << " 102A00000";
}

void ConversionsTest::versionLine() {
  QFETCH(QByteArray, bytes);
  QFETCH(QString, line);
  QCOMPARE(cardbench::versionLine(std::span<const std::uint8_t>(
               reinterpret_cast<const std::uint8_t*>(bytes.constData()),
               static_cast<std::size_t>(bytes.size()))),
           line);
}

void ConversionsTest::decimalToAmount_data() {
  QTest::addColumn<QString>("text");
  QTest::addColumn<std::optional<qint32>>("amount");
  using A = std::optional<qint32>;
  QTest::newRow("250") << "250" << A(250);
  QTest::newRow("12ab") << "12ab" << A(12);
  QTest::newRow("2e3") << "2e3" << A(2000);
  QTest::newRow("2E3") << "2E3" << A(2000);
  QTest::newRow("1d2") << "1d2" << A(100);
  QTest::newRow("3D1") << "3D1" << A(30);
  QTest::newRow("ff") << "ff" << A(0);
  QTest::newRow("empty") << "" << A(0);
  QTest::newRow("blank padded") << QStringLiteral("100").leftJustified(32) << A(100);
  QTest::newRow("blanks inside") << " 1 2 3 " << A(123);
  QTest::newRow("exponent letter without digits") << "12e" << A(12);
  QTest::newRow("exponent then letter") << "5eF" << A(5);
  QTest::newRow("negative") << "-42" << A(-42);
  QTest::newRow("plus sign") << "+7" << A(7);
  QTest::newRow("half to even down") << "2.5" << A(2);
  QTest::newRow("half to even up") << "3.5" << A(4);
  QTest::newRow("negative half") << "-2.5" << A(-2);
  QTest::newRow("fraction rounds") << "2.51" << A(3);
  QTest::newRow("negative exponent") << "25e-1" << A(2);
  QTest::newRow("point only") << "." << A(0);
  QTest::newRow("sign only") << "-" << A(0);
  QTest::newRow("largest") << "2147483647" << A(2147483647);
  QTest::newRow("smallest") << "-2147483648" << A(std::numeric_limits<qint32>::min());
  QTest::newRow("one past largest") << "2147483648" << A();
  QTest::newRow("rounds past largest") << "2147483647.5" << A();
  QTest::newRow("one below smallest") << "-2147483649" << A();
  QTest::newRow("eleven digits") << "99999999999" << A();
  QTest::newRow("big exponent") << "9e9" << A();
  QTest::newRow("huge exponent") << "1e400" << A();
}

void ConversionsTest::decimalToAmount() {
  QFETCH(QString, text);
  QFETCH(std::optional<qint32>, amount);
  QCOMPARE(decimalTextToAmount(text), amount);
}

void ConversionsTest::amountText_data() {
  QTest::addColumn<qint32>("value");
  QTest::addColumn<QString>("text");
  QTest::newRow("0") << 0 << " 0";
  QTest::newRow("250") << 250 << " 250";
  QTest::newRow("-5") << -5 << "-5";
  QTest::newRow("status 1") << 1 << " 1";
  QTest::newRow("most negative") << std::numeric_limits<qint32>::min() << "-2147483648";
}

void ConversionsTest::amountText() {
  QFETCH(qint32, value);
  QFETCH(QString, text);
  QCOMPARE(cardbench::amountText(value), text);
}

void ConversionsTest::hexKeys() {
  for (QChar c : QStringLiteral("0123456789abcdefABCDEF\b")) QVERIFY2(isHexKey(c), qPrintable(c));
  for (QChar c : QStringLiteral("gG- &xZ.\t\r\x16")) QVERIFY2(!isHexKey(c), qPrintable(c));
}

void ConversionsTest::fixedTexts() {
  Module1 m;
  QCOMPARE(m.keyText.text(), QString(12, QChar(u'\0')));
  QCOMPARE(m.dataText.text().size(), 32);
  m.keyText = QStringLiteral("ABC");
  QCOMPARE(m.keyText.text(), QStringLiteral("ABC         "));
  m.keyText = QStringLiteral("0123456789ABCDEF");
  QCOMPARE(m.keyText.text(), QStringLiteral("0123456789AB"));
  m.dataText = QString();
  QCOMPARE(m.dataText.text(), QString(32, u' '));
}

QTEST_APPLESS_MAIN(ConversionsTest)
#include "conversions_test.moc"
