// The text conversions, table by table.
#include "conversions.h"

#include <QtTest>
#include <array>

#include "module1.h"

using namespace cardbench;

class ConversionsTest : public QObject {
  Q_OBJECT
 private slots:
  void hexToBytes();
  void toText();
  void amounts();
  void keysAndFixedTexts();
};

void ConversionsTest::hexToBytes() {
  const std::tuple<QString, int, const char*> rows[] = {
      {"A0A1A2A3A4A5", 6, "A0A1A2A3A4A5"},
      {"a0a1A2a3a4Ff", 6, "A0A1A2A3A4FF"},
      {"1122334455", 6, "112233445500"},
      {"11223344556", 6, "112233445506"},  // lone last digit
      {"   FFEE  ", 3, "FFEE00"},
      {"1 23", 2, "0123"},  // an inner blank ends a pair
      {"\tFF\n", 2, "000F"},
      {"\r\nAB", 2, "00AB"},  // only blanks are trimmed
      {"1G", 1, "01"},
      {"G1FF", 2, "00FF"},
      {"", 4, "00000000"},
      {QString(12, QChar(u'\0')), 6, "000000000000"}};
  for (const auto& [text, n, hex] : rows) {
    std::array<std::uint8_t, 17> out;
    out.fill(0x5A);
    std::int32_t counter = -7;
    hexTextToBytes(text, out, n, counter);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(out.data()), n).toHex().toUpper(),
             QByteArray(hex));
    QCOMPARE(counter, n);
    QCOMPARE(out[std::size_t(n)], 0x5A);  // bytes past n are not touched
  }
}

void ConversionsTest::toText() {
  for (const auto& [value, text] : {std::pair{5, "00000005"},
                                    {-1, "FFFFFFFF"},
                                    {std::numeric_limits<qint32>::min(), "80000000"},
                                    {0x04030201, "04030201"}})  // serial 01 02 03 04: byte 3 first
    QCOMPARE(zeroPaddedHex(value), QString(text));
  for (const auto& [text, count] : {std::pair{"", "0"}, {"A", "0"}, {"0123456789A", "5"}})
    QCOMPARE(byteCountText(text), QString(count));
  const std::array<std::uint8_t, 4> bytes{0x12, 0x0A, 0xFF, 0x00};
  std::int32_t counter = 0;
  QCOMPARE(hexDumpLine(bytes, 3, counter), QStringLiteral(" 12 0A FF"));
  QCOMPARE(counter, 3);
  const std::array<std::uint8_t, 8> version{0x01, 0x02, 0x00, 0x0F, 0x10, 0xFF, 0x00, 0x00};
  QCOMPARE(versionLine(version), QStringLiteral(" 120F10FF00"));
  for (const auto& [value, text] : {std::pair{0, " 0"},
                                    {250, " 250"},
                                    {-5, "-5"},
                                    {std::numeric_limits<qint32>::min(), "-2147483648"}})
    QCOMPARE(amountText(value), QString(text));
}

// The literal reading of a decimal text, and what the purse dialogs take:
// only whole decimal numbers that fit 32 bits ("-" = nothing).
void ConversionsTest::amounts() {
  const char* const rows[][3] = {{"250", "250", "250"},
                                 {"12ab", "12", "-"},
                                 {"2e3", "2000", "-"},
                                 {"3D1", "30", "-"},
                                 {"ff", "0", "-"},
                                 {"", "0", "0"},
                                 {" 1 2 3  ", "123", "123"},
                                 {"12e", "12", "-"},
                                 {"5eF", "5", "-"},
                                 {"-42", "-42", "-42"},
                                 {"+7", "7", "7"},
                                 {"2.5", "2", "-"},
                                 {"3.5", "4", "-"},
                                 {"-2.5", "-2", "-"},
                                 {"2.51", "3", "-"},
                                 {"25e-1", "2", "-"},
                                 {"-", "0", "-"},
                                 {"1-2", "1", "-"},
                                 {"\t7", "7", "-"},
                                 {"2147483647", "2147483647", "2147483647"},
                                 {"-2147483648", "-2147483648", "-2147483648"},
                                 {"2147483648", "-", "-"},
                                 {"2147483647.5", "-", "-"},
                                 {"-2147483649", "-", "-"},
                                 {"1e400", "-", "-"}};
  auto text = [](std::optional<std::int32_t> v) {
    return v ? QString::number(*v) : QStringLiteral("-");
  };
  for (const auto& [typed, literal, whole] : rows)
    QCOMPARE(
        QString(typed) + " " + text(decimalTextToAmount(typed)) + " " + text(wholeAmount(typed)),
        QString(typed) + " " + literal + " " + whole);
}

void ConversionsTest::keysAndFixedTexts() {
  for (QChar c : QStringLiteral("0123456789abcdefABCDEF\b")) QVERIFY2(isHexKey(c), qPrintable(c));
  for (QChar c : QStringLiteral("gG- &xZ.\t\r\x16")) QVERIFY2(!isHexKey(c), qPrintable(c));
  // The key text starts as twelve NULs; fixed texts pad with blanks and cut.
  Module1 m;
  QCOMPARE(m.keyText.text(), QString(12, QChar(u'\0')));
  m.keyText = QStringLiteral("ABC");
  QCOMPARE(m.keyText.text(), QStringLiteral("ABC         "));
  m.keyText = QStringLiteral("0123456789ABCDEF");
  QCOMPARE(m.keyText.text(), QStringLiteral("0123456789AB"));
}

QTEST_APPLESS_MAIN(ConversionsTest)
#include "conversions_test.moc"
