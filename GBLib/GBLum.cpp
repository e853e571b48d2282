// The PInS text of the Lumivane family (what /d writes, /ds shows and /s reads) and the
// programming stamp put on the PInS before every write to the card.
#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>

#include "GBData.h"
#include "TvrPlatform.h"

namespace {

// ---- The field table -------------------------------------------------------------------

enum : UINT8 { LUM_FORMAT_DECIMAL = 0, LUM_FORMAT_HEX = 1, LUM_FORMAT_STRING = 2 };

struct SLumPinsEntry {
  UINT16 usOffset;
  UINT8 ucSize;
  UINT8 ucFormat;
};
static_assert(sizeof(SLumPinsEntry) == 4, "one field descriptor is 4 bytes");

// Runs of equal fields, one after another.
struct LumPinsRun {
  UINT16 usFirst;
  UINT8 ucCount;
  UINT8 ucSize;
  UINT8 ucFormat;
};

constexpr std::array<LumPinsRun, 22> kLumPinsRuns = {{
    {0, 6, 2, LUM_FORMAT_HEX},       {12, 1, 16, LUM_FORMAT_STRING},
    {28, 1, 6, LUM_FORMAT_STRING},   {36, 1, 4, LUM_FORMAT_DECIMAL},
    {40, 1, 4, LUM_FORMAT_HEX},      {44, 6, 2, LUM_FORMAT_DECIMAL},
    {56, 1, 4, LUM_FORMAT_DECIMAL},  {60, 1, 4, LUM_FORMAT_HEX},
    {64, 6, 2, LUM_FORMAT_DECIMAL},  {76, 1, 4, LUM_FORMAT_DECIMAL},
    {80, 1, 4, LUM_FORMAT_HEX},      {84, 6, 2, LUM_FORMAT_DECIMAL},
    {96, 1, 4, LUM_FORMAT_DECIMAL},  {100, 1, 4, LUM_FORMAT_HEX},
    {104, 6, 2, LUM_FORMAT_DECIMAL}, {116, 1, 4, LUM_FORMAT_DECIMAL},
    {120, 1, 4, LUM_FORMAT_HEX},     {124, 1, 4, LUM_FORMAT_DECIMAL},
    {128, 62, 4, LUM_FORMAT_HEX},    {376, 1, 16, LUM_FORMAT_STRING},
    {392, 29, 4, LUM_FORMAT_HEX},    {508, 3, 1, LUM_FORMAT_HEX},
}};

constexpr std::size_t kLumPinsEntries = 138;

constexpr std::array<SLumPinsEntry, kLumPinsEntries> ExpandRuns() {
  std::array<SLumPinsEntry, kLumPinsEntries> aEntries{};
  std::size_t i = 0;
  for (const LumPinsRun& run : kLumPinsRuns) {
    for (UINT32 k = 0; k < run.ucCount; ++k) {
      aEntries[i++] = {static_cast<UINT16>(run.usFirst + k * run.ucSize), run.ucSize, run.ucFormat};
    }
  }
  return aEntries;
}

constexpr std::array<SLumPinsEntry, kLumPinsEntries> LUM_PINS_STRUCT = ExpandRuns();

constexpr std::size_t CountRunEntries() {
  std::size_t n = 0;
  for (const LumPinsRun& run : kLumPinsRuns) {
    n += run.ucCount;
  }
  return n;
}

// The fields cover bytes 0-33 and 36-510 one after another; the PCB word at 34 has its own
// key and the checksum byte at 511 is the caller's.
constexpr UINT32 kPcbField = 34;
constexpr UINT32 kChecksumByte = 511;

constexpr bool CoversWithoutGap() {
  UINT32 ulNext = 0;
  for (const SLumPinsEntry& entry : LUM_PINS_STRUCT) {
    if (ulNext == kPcbField) {
      ulNext += 2;
    }
    if (entry.usOffset != ulNext) {
      return false;
    }
    ulNext += entry.ucSize;
  }
  return ulNext == kChecksumByte;
}

static_assert(CountRunEntries() == kLumPinsEntries, "the runs give 138 fields");
static_assert(CoversWithoutGap(), "the fields cover bytes 0-33 and 36-510 without gap");

// ---- Texts ---------------------------------------------------------------------------

constexpr char kFillPiece[] = "Fill:\t0\t511\t0xFF\n\n";
constexpr char kFieldPrefixFormat[] = "%d\t%d\t";
constexpr char kDecimalFormat[] = "%d\n";
constexpr char kStringFormat[] = "'%s'\n";
constexpr char kStringBytesFormat[] = "0x%s\n";
constexpr char kByteDigitsFormat[] = "%02X";
constexpr char kFamilyFormat[] = "\n%s\t\t%s\n";
constexpr char kPcbFormat[] = "%s\t\t%d-%02d\n";
constexpr char kSubsystemFormat[] = "%s\t0x%08X";

constexpr char kKeyFileID[] = ":LumfileID";
constexpr char kKeyFileType[] = ":FileType";
constexpr char kKeyPcbInfo[] = ":PCBInfo";
constexpr char kKeySubsystem[] = ":SubSystemVendorID";
constexpr char kFillToken[] = "Fill:";

const char* HexFormat(UINT8 ucSize) {
  switch (ucSize) {
    case 1:
      return "0x%02X\n";
    case 2:
      return "0x%04X\n";
    default:
      return "0x%08X\n";
  }
}

// PCB majors of 1000 and more are shown with 6000 added, and read back from 7000 on.
constexpr UINT32 kPcbMajorShown = 6000;
constexpr UINT32 kPcbMajorShownFrom = 1000;
constexpr INT32 kPcbMajorReadFrom = 7000;

constexpr UINT32 kFileIDField = 10;
constexpr UINT16 kFileIDNotGiven = 0x8000;

// ---- Export --------------------------------------------------------------------------

constexpr std::size_t kScratchSize = 128;

// Appends whole pieces while room is left for them and the closing zero byte.
class TextSink {
 public:
  TextSink(ACHAR* pszBuffer, INT32 iBufferSize) : m_psz(pszBuffer), m_iRoom(iBufferSize) {}

  bool Append(const char* pszPiece) {
    const INT32 iLength = static_cast<INT32>(std::strlen(pszPiece));
    m_iRoom -= iLength;
    if (m_iRoom <= 0) {
      return false;
    }
    std::memcpy(m_psz + m_iUsed, pszPiece, iLength);
    m_iUsed += iLength;
    return true;
  }

  template <class... Args>
  bool AppendFormatted(const char* pszFormat, Args... args) {
    char szScratch[kScratchSize];
    std::snprintf(szScratch, sizeof(szScratch), pszFormat, args...);
    return Append(szScratch);
  }

 private:
  ACHAR* m_psz;
  INT32 m_iRoom;
  INT32 m_iUsed = 0;
};

std::string FieldBytes(GBHANDLE hGB, const SLumPinsEntry& entry) {
  std::string text;
  for (UINT32 i = 0; i < entry.ucSize; ++i) {
    const UINT8 uc = GBPinsGetByte(hGB, entry.usOffset + i);
    if (uc == 0) {
      break;
    }
    text += static_cast<char>(uc);
  }
  return text;
}

constexpr char kLineFeed = '\n';
constexpr char kQuote = '\'';

bool IsBlank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

// Between quotes a string reads back as it is, blanks and quotes included, unless a line
// feed splits its line or its first blank follows a quote: the import reads that quote as
// the closing one.
bool Quotable(const std::string& text) {
  if (text.find(kLineFeed) != std::string::npos) {
    return false;
  }
  const auto blank = std::find_if(text.begin(), text.end(), IsBlank);
  return blank == text.begin() || blank == text.end() || blank[-1] != kQuote;
}

// A string the quotes cannot carry is written as its bytes in hexadecimal instead, which
// the import refuses for a string field rather than store something else.
bool AppendString(TextSink& sink, const std::string& text) {
  if (Quotable(text)) {
    return sink.AppendFormatted(kStringFormat, text.c_str());
  }
  std::string digits;
  for (const char c : text) {
    char szByte[3];
    std::snprintf(szByte, sizeof(szByte), kByteDigitsFormat,
                  static_cast<unsigned>(static_cast<UINT8>(c)));
    digits += szByte;
  }
  return sink.AppendFormatted(kStringBytesFormat, digits.c_str());
}

UINT32 FieldValue(GBHANDLE hGB, const SLumPinsEntry& entry) {
  switch (entry.ucSize) {
    case 1:
      return GBPinsGetByte(hGB, entry.usOffset);
    case 2:
      return GBPinsGetWord(hGB, entry.usOffset);
    default:
      return GBPinsGetDword(hGB, entry.usOffset);
  }
}

bool AppendField(GBHANDLE hGB, TextSink& sink, const SLumPinsEntry& entry) {
  if (!sink.AppendFormatted(kFieldPrefixFormat, entry.usOffset, entry.ucSize)) {
    return false;
  }
  if (entry.ucFormat == LUM_FORMAT_STRING) {
    return AppendString(sink, FieldBytes(hGB, entry));
  }
  const UINT32 ulValue = FieldValue(hGB, entry);
  if (entry.ucFormat == LUM_FORMAT_HEX) {
    return sink.AppendFormatted(HexFormat(entry.ucSize), ulValue);
  }
  // Dwords print signed; bytes and words are never negative.
  return sink.AppendFormatted(kDecimalFormat, static_cast<int>(static_cast<INT32>(ulValue)));
}

const char* FamilyName(GBHANDLE hGB) {
  UINT16 usDeviceID = 0xFFFF;
  GBConfigAccess_ReadWord(hGB, PCI_CFG_DEVICE_ID, &usDeviceID);
  const TvrCard* pCard = TvrFindCard(usDeviceID);
  return pCard ? pCard->pszFamily : nullptr;
}

// A card of no known family gets no family line: the text then still reads back.
bool AppendKeys(GBHANDLE hGB, TextSink& sink) {
  const char* pszFamily = FamilyName(hGB);
  if (pszFamily && !sink.AppendFormatted(kFamilyFormat, kKeyFileType, pszFamily)) {
    return false;
  }
  const UINT16 usPcb = GBPinsGetWord(hGB, kPcbField);
  UINT32 ulMajor = usPcb >> 4;
  if (ulMajor >= kPcbMajorShownFrom) {
    ulMajor += kPcbMajorShown;
  }
  if (!sink.AppendFormatted(kPcbFormat, kKeyPcbInfo, static_cast<int>(ulMajor), usPcb & 0x0F)) {
    return false;
  }
  return sink.AppendFormatted(kSubsystemFormat, kKeySubsystem, hGB->m_oSubSys.ulSubsys);
}

// ---- Import --------------------------------------------------------------------------

constexpr std::size_t kLineMax = 256;   // characters of a line the reader takes
constexpr std::size_t kTokenMax = 127;  // what the key and value buffers hold
constexpr std::size_t kDigitsMax = 15;  // more than any field needs; no overflow below
constexpr UINT32 kStringSizeShort = 6;
constexpr UINT32 kStringSizeLong = 16;

bool IsDigitOf(char c, int iBase) {
  const unsigned char uc = static_cast<unsigned char>(c);
  return iBase == 16 ? std::isxdigit(uc) != 0 : std::isdigit(uc) != 0;
}

// Reads a line the way the conversions of the text format do: white space is skipped
// before every number and word, a word ends at white space. Every read that fails leaves
// the line refused.
class LineScanner {
 public:
  explicit LineScanner(std::string_view line) : m_line(line) {}

  void SkipBlanks() {
    while (m_pos < m_line.size() && IsBlank(m_line[m_pos])) {
      ++m_pos;
    }
  }

  bool AtEnd() const { return m_pos >= m_line.size(); }

  // A number ends here: white space or the end of the line follows it. What comes after
  // that white space is a note of the text's author.
  bool AtTokenEnd() const { return AtEnd() || IsBlank(m_line[m_pos]); }

  char Peek() const { return m_line[m_pos]; }

  bool Literal(char c) {
    if (AtEnd() || m_line[m_pos] != c) {
      return false;
    }
    ++m_pos;
    return true;
  }

  // A word of 1 to 127 characters.
  bool Word(std::string& word) {
    SkipBlanks();
    const std::size_t start = m_pos;
    while (!AtEnd() && !IsBlank(m_line[m_pos])) {
      ++m_pos;
    }
    word.assign(m_line.substr(start, m_pos - start));
    return !word.empty() && word.size() <= kTokenMax;
  }

  std::string_view Rest() const { return m_line.substr(m_pos); }

  // A signed decimal number that fits 32 bits.
  bool Decimal(INT32& iValue) {
    long long llValue = 0;
    if (!Number(10, INT32_MIN, INT32_MAX, llValue)) {
      return false;
    }
    iValue = static_cast<INT32>(llValue);
    return true;
  }

  // A number in llMin to llMax: decimal with an optional sign, or hexadecimal digits.
  bool Number(int iBase, long long llMin, long long llMax, long long& llValue) {
    SkipBlanks();
    std::size_t end = m_pos;
    if (iBase == 10 && end < m_line.size() && (m_line[end] == '-' || m_line[end] == '+')) {
      ++end;
    }
    const std::size_t digits = end;
    while (end < m_line.size() && IsDigitOf(m_line[end], iBase)) {
      ++end;
    }
    if (end == digits || end - digits > kDigitsMax) {
      return false;
    }
    llValue = std::strtoll(std::string(m_line.substr(m_pos, end - m_pos)).c_str(), nullptr, iBase);
    if (llValue < llMin || llValue > llMax) {
      return false;
    }
    m_pos = end;
    return true;
  }

 private:
  std::string_view m_line;
  std::size_t m_pos = 0;
};

// The lines of a text: each runs to the next line feed or the end of the buffer.
class LineReader {
 public:
  LineReader(const ACHAR* pszBuffer, INT32 iBufferSize) : m_psz(pszBuffer), m_iSize(iBufferSize) {}

  bool Next(std::string_view& line) {
    if (m_iPos >= m_iSize) {
      return false;
    }
    const INT32 iStart = m_iPos;
    while (m_iPos < m_iSize && m_psz[m_iPos] != '\n') {
      ++m_iPos;
    }
    line = std::string_view(m_psz + iStart, m_iPos - iStart);
    ++m_iPos;
    return true;
  }

 private:
  const ACHAR* m_psz;
  INT32 m_iSize;
  INT32 m_iPos = 0;
};

struct ImportState {
  GBHANDLE hGB;
  bool bFileIDSeen = false;
};

// Values must fit where they go: hexadecimal the field's unsigned range, decimal also its
// signed range, since the export prints dwords signed. A run of bytes takes a byte value.
struct ValueRange {
  long long llSignedMin;
  long long llUnsignedMax;
};

ValueRange RangeOf(UINT32 ulSize) {
  const UINT32 ulBits = (ulSize == 2 || ulSize == 4 ? ulSize : 1) * 8;
  return {-(1LL << (ulBits - 1)), (1LL << ulBits) - 1};
}

bool ReadHex(LineScanner& scan, long long llMax, long long& llValue) {
  scan.SkipBlanks();
  return scan.Literal('0') && scan.Literal('x') && scan.Number(16, 0, llMax, llValue);
}

// Where the quote that closes a string lies in what follows its opening quote, or npos. A
// first token that ends with a quote is the string with that quote, and a note may follow.
// Otherwise the string holds blanks of its own, as the export writes them, and runs to the
// last quote on the line that ends a token.
std::size_t ClosingQuote(std::string_view rest) {
  const auto tokenEnd =
      static_cast<std::size_t>(std::find_if(rest.begin(), rest.end(), IsBlank) - rest.begin());
  if (tokenEnd > 0 && rest[tokenEnd - 1] == kQuote) {
    return tokenEnd - 1;
  }
  for (std::size_t close = rest.size(); close-- > 0;) {
    const bool bEndsToken = close + 1 == rest.size() || IsBlank(rest[close + 1]);
    if (rest[close] == kQuote && bEndsToken) {
      return close;
    }
  }
  return std::string_view::npos;
}

// A quoted string; it must fit its field.
bool ReadString(LineScanner& scan, UINT32 ulSize, std::string& text) {
  scan.SkipBlanks();
  if (!scan.Literal(kQuote)) {
    return false;
  }
  const std::string_view rest = scan.Rest();
  const std::size_t close = ClosingQuote(rest);
  if (close == std::string_view::npos) {
    return false;
  }
  text.assign(rest.substr(0, close));
  return text.size() <= ulSize;
}

// The value of a data line as the text gives it: hexadecimal after "0x" when the value's
// second non-blank character (or its only one) is a lower-case x, else a signed decimal;
// the whole number, glued to nothing.
bool ReadNumber(LineScanner& scan, UINT32 ulSize, UINT32& ulValue) {
  LineScanner look = scan;
  look.SkipBlanks();
  if (look.AtEnd()) {
    return false;
  }
  char cKept = look.Peek();
  look.Literal(cKept);
  look.SkipBlanks();
  if (!look.AtEnd()) {
    cKept = look.Peek();
  }

  const ValueRange range = RangeOf(ulSize);
  long long llValue = 0;
  const bool bRead = cKept == 'x'
                         ? ReadHex(scan, range.llUnsignedMax, llValue)
                         : scan.Number(10, range.llSignedMin, range.llUnsignedMax, llValue);
  ulValue = static_cast<UINT32>(llValue);
  return bRead && scan.AtTokenEnd();
}

// The record's last byte is its checksum, which the caller recomputes: a value a line
// writes there would not stay. A fill may cover it (the checksum is that byte's value by
// design), and a string as long as its field may put its zero byte there, past its field.
bool ReachesChecksum(GBHANDLE hGB, UINT32 ulOffset, UINT32 ulWritten) {
  return ulOffset + ulWritten >= GBPinsGetSize(hGB);
}

bool StoreString(GBHANDLE hGB, LineScanner& scan, UINT32 ulOffset, UINT32 ulSize) {
  std::string text;
  if (!ReadString(scan, ulSize, text)) {
    return false;
  }
  const UINT32 ulInField = std::min(static_cast<UINT32>(text.size()) + 1, ulSize);
  return !ReachesChecksum(hGB, ulOffset, ulInField) && GBPinsSetString(hGB, ulOffset, text.c_str());
}

bool IsRun(UINT32 ulSize) { return ulSize != 1 && ulSize != 2 && ulSize != 4; }

bool StoreDataLine(GBHANDLE hGB, std::string_view line) {
  LineScanner scan(line);
  INT32 iOffset = 0;
  INT32 iSize = 0;
  if (!scan.Decimal(iOffset) || !scan.AtTokenEnd() || !scan.Decimal(iSize) || !scan.AtTokenEnd()) {
    return false;
  }
  if (iOffset < 0 || iSize < 0 || static_cast<long long>(iOffset) + iSize > GBPinsGetSize(hGB)) {
    return false;
  }
  const UINT32 ulOffset = static_cast<UINT32>(iOffset);
  const UINT32 ulSize = static_cast<UINT32>(iSize);

  if (ulSize == kStringSizeShort || ulSize == kStringSizeLong) {
    return StoreString(hGB, scan, ulOffset, ulSize);
  }
  UINT32 ulValue = 0;
  if (!ReadNumber(scan, ulSize, ulValue) ||
      (!IsRun(ulSize) && ReachesChecksum(hGB, ulOffset, ulSize))) {
    return false;
  }
  switch (ulSize) {
    case 1:
      return GBPinsSetByte(hGB, ulOffset, static_cast<UINT8>(ulValue));
    case 2:
      return GBPinsSetWord(hGB, ulOffset, static_cast<UINT16>(ulValue));
    case 4:
      return GBPinsSetDword(hGB, ulOffset, ulValue);
    default:
      return GBPinsFill(hGB, ulOffset, ulSize, static_cast<UINT8>(ulValue));
  }
}

// "Fill:" offset size value is the data line "offset size value".
bool StoreFillLine(GBHANDLE hGB, const LineScanner& scan) {
  return StoreDataLine(hGB, scan.Rest());
}

// A key's hexadecimal value of ulSize bytes, glued to nothing.
bool ReadHexKey(LineScanner& scan, UINT32 ulSize, UINT32& ulValue) {
  long long llValue = 0;
  if (!ReadHex(scan, RangeOf(ulSize).llUnsignedMax, llValue) || !scan.AtTokenEnd()) {
    return false;
  }
  ulValue = static_cast<UINT32>(llValue);
  return true;
}

bool ApplyFileID(ImportState& state, LineScanner& scan) {
  UINT32 ulValue = 0;
  if (!ReadHexKey(scan, 2, ulValue)) {
    return false;
  }
  GBPinsSetWord(state.hGB, kFileIDField, static_cast<UINT16>(ulValue));
  state.bFileIDSeen = true;
  return true;
}

bool CheckFamily(LineScanner& scan) {
  std::string name;
  if (!scan.Word(name)) {
    return false;
  }
  for (const TvrCard& card : kTvrCards) {
    if (name == card.pszFamily) {
      return true;
    }
  }
  return false;
}

// The PCB word holds a 12-bit major and a 4-bit minor number.
constexpr INT32 kPcbMajorMax = 0x0FFF;
constexpr INT32 kPcbMinorMax = 0x0F;

bool ApplyPcb(GBHANDLE hGB, LineScanner& scan) {
  INT32 iMajor = 0;
  INT32 iMinor = 0;
  if (!scan.Decimal(iMajor) || !scan.Literal('-') || !scan.Decimal(iMinor) || !scan.AtTokenEnd()) {
    return false;
  }
  if (iMajor >= kPcbMajorReadFrom) {
    iMajor -= static_cast<INT32>(kPcbMajorShown);
  }
  if (iMajor < 0 || iMajor > kPcbMajorMax || iMinor < 0 || iMinor > kPcbMinorMax) {
    return false;
  }
  GBPinsSetWord(hGB, kPcbField, static_cast<UINT16>((iMajor << 4) | iMinor));
  return true;
}

bool ApplySubsystem(GBHANDLE hGB, LineScanner& scan) {
  if (!ReadHexKey(scan, 4, hGB->m_oSubSys.ulSubsys)) {
    return false;
  }
  hGB->m_oSubSys.bSetByText = TRUE;
  return true;
}

// One line; false refuses the text.
bool ApplyLine(ImportState& state, std::string_view line) {
  LineScanner scan(line);
  scan.SkipBlanks();
  if (scan.AtEnd() || scan.Peek() == ';') {
    return true;
  }
  std::string key;
  if (!scan.Word(key)) {
    return false;
  }
  if (key == kKeyFileID) {
    return ApplyFileID(state, scan);
  }
  if (key == kKeyFileType) {
    return CheckFamily(scan);
  }
  if (key == kKeyPcbInfo) {
    return ApplyPcb(state.hGB, scan);
  }
  if (key == kKeySubsystem) {
    return ApplySubsystem(state.hGB, scan);
  }
  if (key[0] == ':') {
    return true;
  }
  if (key == kFillToken) {
    return StoreFillLine(state.hGB, scan);
  }
  return StoreDataLine(state.hGB, line);
}

}  // namespace

BOOL32 LumPInSDataToASCII(GBHANDLE hGB, ACHAR* pszBuffer, INT32 iBufferSize) {
  if (!pszBuffer || iBufferSize <= 0) {
    return FALSE;
  }
  std::memset(pszBuffer, 0, static_cast<std::size_t>(iBufferSize));
  TextSink sink(pszBuffer, iBufferSize);
  if (!sink.Append(kFillPiece)) {
    return FALSE;
  }
  for (const SLumPinsEntry& entry : LUM_PINS_STRUCT) {
    if (!AppendField(hGB, sink, entry)) {
      return FALSE;
    }
  }
  return AppendKeys(hGB, sink) ? TRUE : FALSE;
}

// What lies past the characters of a line the reader takes is dropped. Only white space may
// be: anything else would read as a line of its own, or change the line it was cut from.
bool CutLeavesLine(std::string_view line) {
  return line.size() <= kLineMax || std::all_of(line.begin() + kLineMax, line.end(), IsBlank);
}

// Lines apply in order; at the first refused line reading stops and the lines before it
// stay applied. A zero byte ends a line's content.
BOOL32 LumPInSASCIIToData(GBHANDLE hGB, const ACHAR* pszBuffer, INT32 iBufferSize) {
  if (iBufferSize < 0 || (iBufferSize > 0 && !pszBuffer)) {
    return FALSE;
  }
  ImportState state{hGB};
  LineReader reader(pszBuffer, iBufferSize);
  std::string_view line;
  while (reader.Next(line)) {
    if (!CutLeavesLine(line) || !ApplyLine(state, line.substr(0, line.find('\0')))) {
      return FALSE;
    }
  }
  if (!state.bFileIDSeen) {
    GBPinsSetWord(hGB, kFileIDField, GBPinsGetWord(hGB, kFileIDField) | kFileIDNotGiven);
  }
  return TRUE;
}

void LumUpdatePInSCountDate(GBHANDLE hGB) {
  std::tm now{};
  if (TvrGetPlatform().LocalTime(now)) {
    const UINT32 ulDate = (static_cast<UINT32>(now.tm_year - 100) << 9) |
                          (static_cast<UINT32>(now.tm_mon + 1) << 5) |
                          static_cast<UINT32>(now.tm_mday);
    GBPinsSetWord(hGB, GB_PINS_DATE_FIELD, static_cast<UINT16>(ulDate));
  }
  GBPinsSetWord(hGB, GB_PINS_COUNTER_FIELD, static_cast<UINT16>(hGB->m_oPINS.usCounter + 1));
  GBPinsComputeChecksum(hGB);
}
