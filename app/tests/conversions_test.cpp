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
  // clang-format off
  const std::tuple<QString, int, const char*> rows[] = {
      {"A0A1A2A3A4A5", 6, "A0A1A2A3A4A5"}, {"a0a1A2a3a4Ff", 6, "A0A1A2A3A4FF"}, {"1122334455", 6, "112233445500"},
      {"11223344556", 6, "112233445506"} /* lone last digit */, {"   FFEE  ", 3, "FFEE00"}, {"1 23", 2, "0123"},
      {"\tFF\n", 2, "000F"}, {"\r\nAB", 2, "00AB"} /* only blanks are trimmed */, {"1G", 1, "01"}, {"G1FF", 2, "00FF"},
      {"", 4, "00000000"}, {QString(12, QChar(u'\0')), 6, "000000000000"}};
  // clang-format on
  for (const auto& [text, n, hex] : rows) {
    std::array<std::uint8_t, 17> out;
    out.fill(0x5A);
    std::int32_t counter = -7;
    hexTextToBytes(text, out, n, counter);
    const QByteArray bytes(reinterpret_cast<const char*>(out.data()), n + 1);
    QCOMPARE(bytes.toHex().toUpper() + " " + QByteArray::number(counter),
             hex + QByteArray("5A ") + QByteArray::number(n));
  }
}

void ConversionsTest::toText() {
  for (const auto& [value, text] : {std::pair{5, "00000005"},
                                    {-1, "FFFFFFFF"},
                                    {INT32_MIN, "80000000"},
                                    {0x04030201, "04030201"}})
    QCOMPARE(zeroPaddedHex(value), QString(text));  // serial 01 02 03 04: byte 3 first
  for (const auto& [text, count] : {std::pair{"", "0"}, {"A", "0"}, {"0123456789A", "5"}})
    QCOMPARE(byteCountText(text), QString(count));
  const std::array<std::uint8_t, 8> bytes{0x01, 0x02, 0x00, 0x0F, 0x10, 0xFF, 0x00, 0x00};
  std::int32_t counter = 0;
  const QString dump = hexDumpLine(bytes, 6, counter);
  QCOMPARE(dump + QString::number(counter), QStringLiteral(" 01 02 00 0F 10 FF6"));
  QCOMPARE(versionLine(bytes), QStringLiteral(" 120F10FF00"));
  for (const auto& [value, text] :
       {std::pair{0, " 0"}, {250, " 250"}, {-5, "-5"}, {INT32_MIN, "-2147483648"}})
    QCOMPARE(amountText(value), QString(text));
}

// The literal reading of a decimal text, and what the purse dialogs take:
// only whole decimal numbers that fit 32 bits ("-" = nothing).
void ConversionsTest::amounts() {
  // clang-format off
  const char* const rows[][3] = {
      {"250", "250", "250"}, {"12ab", "12", "-"}, {"2e3", "2000", "-"}, {"3D1", "30", "-"}, {"ff", "0", "-"},
      {"", "0", "0"}, {" 1 2 3  ", "123", "123"}, {"12e", "12", "-"}, {"5eF", "5", "-"}, {"-42", "-42", "-42"},
      {"+7", "7", "7"}, {"2.5", "2", "-"}, {"3.5", "4", "-"}, {"-2.5", "-2", "-"}, {"2.51", "3", "-"},
      {"25e-1", "2", "-"}, {"-", "0", "-"}, {"1-2", "1", "-"}, {"\t7", "7", "-"}, {"2147483647", "2147483647", "2147483647"},
      {"-2147483648", "-2147483648", "-2147483648"}, {"2147483648", "-", "-"}, {"2147483647.5", "-", "-"},
      {"-2147483649", "-", "-"}, {"1e400", "-", "-"}};
  // clang-format on
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
