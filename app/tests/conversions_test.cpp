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
  void hexOut();
  void decimalToAmount_data();
  void decimalToAmount();
  void keysAndFixedTexts();
};

void ConversionsTest::hexTextToBytes_data() {
  QTest::addColumn<QString>("text");
  QTest::addColumn<int>("n");
  QTest::addColumn<QByteArray>("bytes");
  const struct {
    const char* name;
    QString text;
    int n;
    const char* hex;
  } rows[] = {
      {"12 digits", "A0A1A2A3A4A5", 6, "A0A1A2A3A4A5"},
      {"lower case as upper", "a0a1A2a3a4Ff", 6, "A0A1A2A3A4FF"},
      {"10 digits: sixth byte 0", "1122334455", 6, "112233445500"},
      {"11 digits: lone last digit", "11223344556", 6, "112233445506"},
      {"blanks at both ends trimmed", "   FFEE  ", 3, "FFEE00"},
      {"inner blank ends a pair", "1 23", 2, "0123"},
      {"pair stops at a non-digit", "1G", 1, "01"},
      {"non-digit first gives 0", "G1FF", 2, "00FF"},
      {"empty text", "", 4, "00000000"},
      {"NUL characters give 0", QString(12, QChar(u'\0')), 6, "000000000000"},
  };
  for (const auto& r : rows) QTest::newRow(r.name) << r.text << r.n << QByteArray::fromHex(r.hex);
}

void ConversionsTest::hexTextToBytes() {
  QFETCH(QString, text);
  QFETCH(int, n);
  QFETCH(QByteArray, bytes);
  std::array<std::uint8_t, 17> out;
  out.fill(0x5A);
  std::int32_t counter = -7;
  cardbench::hexTextToBytes(text, out, n, counter);
  QCOMPARE(QByteArray(reinterpret_cast<const char*>(out.data()), n), bytes);
  QCOMPARE(counter, n);
  QCOMPARE(out[n], 0x5A);  // bytes past n are not touched
}

// Bytes, serials, versions and amounts as text.
void ConversionsTest::hexOut() {
  // Serial bytes 01 02 03 04 as the library writes them: byte 3 first.
  const QList<QPair<qint32, QString>> padded = {{5, "00000005"},
                                                {-1, "FFFFFFFF"},
                                                {std::numeric_limits<qint32>::min(), "80000000"},
                                                {0x04030201, "04030201"}};
  for (const auto& [value, text] : padded) QCOMPARE(zeroPaddedHex(value), text);

  for (const auto& [text, count] : QList<QPair<QString, QString>>{
           {"", "0"}, {"A", "0"}, {"0123456789A", "5"}, {QString(32, u'F'), "16"}})
    QCOMPARE(byteCountText(text), count);

  const std::array<std::uint8_t, 4> bytes{0x12, 0x0A, 0xFF, 0x00};
  std::int32_t counter = 0;
  QCOMPARE(hexDumpLine(bytes, 3, counter), QStringLiteral(" 12 0A FF"));
  QCOMPARE(counter, 3);
  QCOMPARE(hexDumpLine(bytes, 4, counter), QStringLiteral(" 12 0A FF 00"));

  const std::array<std::uint8_t, 8> example{0x01, 0x02, 0x00, 0x0F, 0x10, 0xFF, 0x00, 0x00};
  QCOMPARE(versionLine(example), QStringLiteral(" 120F10FF00"));
  const std::array<std::uint8_t, 8> noLeadingZero{0x01, 0x00, 0x2A};
  QCOMPARE(versionLine(noLeadingZero), QStringLiteral(" 102A00000"));

  const QList<QPair<qint32, QString>> amounts = {
      {0, " 0"}, {250, " 250"}, {-5, "-5"}, {std::numeric_limits<qint32>::min(), "-2147483648"}};
  for (const auto& [value, text] : amounts) QCOMPARE(amountText(value), text);
}

void ConversionsTest::decimalToAmount_data() {
  QTest::addColumn<QString>("text");
  QTest::addColumn<std::optional<qint32>>("amount");
  using A = std::optional<qint32>;
  const struct {
    const char* text;
    A amount;
  } rows[] = {
      {"250", 250},
      {"12ab", 12},
      {"2e3", 2000},
      {"3D1", 30},
      {"ff", 0},
      {"", 0},
      {" 1 2 3      ", 123},  // blanks anywhere
      {"12e", 12},            // exponent letter without digits
      {"5eF", 5},
      {"-42", -42},
      {"+7", 7},
      {"2.5", 2},  // halves to the even neighbour
      {"3.5", 4},
      {"-2.5", -2},
      {"2.51", 3},
      {"25e-1", 2},
      {"-", 0},
      {"2147483647", 2147483647},
      {"-2147483648", std::numeric_limits<qint32>::min()},
      {"2147483648", A()},
      {"2147483647.5", A()},
      {"-2147483649", A()},
      {"1e400", A()},
  };
  for (const auto& r : rows)
    QTest::newRow(*r.text ? r.text : "empty") << QString(r.text) << r.amount;
}

void ConversionsTest::decimalToAmount() {
  QFETCH(QString, text);
  QFETCH(std::optional<qint32>, amount);
  QCOMPARE(decimalTextToAmount(text), amount);
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
  m.dataText = QString();
  QCOMPARE(m.dataText.text(), QString(32, u' '));
}

QTEST_APPLESS_MAIN(ConversionsTest)
#include "conversions_test.moc"
