#include "UxGen.h"

#include <array>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "TvrCs.h"
#include "TvrPci.h"
#include "UxPrint.h"

namespace {

constexpr DWORD PCI_BUS_COUNT = 256;
constexpr DWORD PCI_DEVICE_COUNT = 32;
// The maker reserves subsystem IDs with this upper byte for boards this utility must not
// touch.
constexpr DWORD EXCLUDED_SUBSYSTEM_HIGH_BYTE = 0x90;

// Reads one configuration dword; a read that never happens leaves all ones, as an empty
// slot answers.
DWORD ReadConfigDword(PCIHANDLE hPci, DWORD offset) {
  DWORD value = 0xFFFFFFFFu;
  csReadDword(hPci, offset, &value);
  return value;
}

bool IsSupportedDevice(WORD deviceId) { return TvrFindCard(deviceId) != nullptr; }

bool IsExcludedSubsystem(DWORD subsystemWord) {
  ST_PCI_SUBSYSID subsystem{};
  subsystem.all = subsystemWord;
  return subsystem.f.SubsystemVendorID == TAVRIN_VENDOR_ID &&
         (subsystem.f.SubsystemID >> 8) == EXCLUDED_SUBSYSTEM_HIGH_BYTE;
}

}  // namespace

BOOL32 IsBoardSupported(PCIHANDLE hPci) {
  ST_PCI_DEVID id{};
  id.all = ReadConfigDword(hPci, PCI_CFG_VENDOR_ID);
  if (!IsSupportedDevice(static_cast<WORD>(id.f.DeviceID))) {
    return FALSE;
  }
  return IsExcludedSubsystem(ReadConfigDword(hPci, PCI_CFG_SUBSYSTEM)) ? FALSE : TRUE;
}

BOOL32 SetPCIHANDLE(PCIHANDLE* pPci, UINT32* pulNbDeviceDetected) {
  UINT32 found = 0;
  for (DWORD bus = 0; bus < PCI_BUS_COUNT && found < UX_PCI_LIST_SIZE; ++bus) {
    for (DWORD device = 0; device < PCI_DEVICE_COUNT && found < UX_PCI_LIST_SIZE; ++device) {
      const PCIHANDLE hPci = MakePciHandle(bus, device);
      ST_PCI_DEVID id{};
      id.all = ReadConfigDword(hPci, PCI_CFG_VENDOR_ID);
      if (id.f.VendorID == TAVRIN_VENDOR_ID && IsBoardSupported(hPci)) {
        pPci[found++] = hPci;
      }
    }
  }
  *pulNbDeviceDetected = found;
  return found != 0 ? TRUE : FALSE;
}

namespace {

constexpr const ACHAR* kUnknownText = "Unknown";

constexpr bool ModelsFitTheReport() {
  for (const TvrCard& card : kTvrCards) {
    if (std::char_traits<ACHAR>::length(card.pszModel) >= UX_MODEL_SIZE) {
      return false;
    }
  }
  return true;
}
static_assert(ModelsFitTheReport(), "every model text fits the report's field with its NUL");

struct ErrorMessage {
  UINT32 code;
  const ACHAR* text;
};

constexpr std::array<ErrorMessage, 6> kErrorMessages{{
    {static_cast<UINT32>(SE_ERR_UNSUPPORTED_DEVICE), kMsgNotSupported},
    {static_cast<UINT32>(GB_ERR_NOT_SUPPORTED), kMsgNotSupported},
    {static_cast<UINT32>(SE_ERR_READ), "ERROR! Data from the serial EEPROM couldn't be read."},
    {static_cast<UINT32>(GB_ERR_INVALID_PINS),
     "ERROR! The product information structure in the\n       current BIOS is unrecognizable."},
    {static_cast<UINT32>(GB_ERR_MCS_NOT_FOUND),
     "ERROR! The Medical Calibration Structure (MCS) couldn't be found."},
    {static_cast<UINT32>(GB_ERR_INVALID_MCS),
     "ERROR! The Medical Calibration Structure (MCS) in the\n       current BIOS is "
     "unrecognizable."},
}};

WORD CardDeviceId(PCIHANDLE hPci) {
  ST_PCI_DEVID id{};
  id.all = ReadConfigDword(hPci, PCI_CFG_VENDOR_ID);
  return static_cast<WORD>(id.f.DeviceID);
}

// A text field that may fill all its bytes without a terminator (a 16-byte serial number).
std::string BoundedText(const ACHAR* pszField, std::size_t size) {
  return std::string(pszField, strnlen(pszField, size));
}

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int length = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string text(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
  std::vsnprintf(text.data(), text.size() + 1, format, args);
  va_end(args);
  return text;
}

std::string CardBlock(UXHANDLE hUx) {
  const PCIHANDLE hPci = hUx->hPci;
  const int bus = static_cast<int>((hPci >> 8) & 0xFF);
  const int device = static_cast<int>((hPci >> 3) & 0x1F);
  const int function = static_cast<int>(hPci & 0x7);
  const UINT32 version = hUx->hGBInfo.ulBIOSVersion;
  const ACHAR* productId = hUx->hGBInfo.pszProductID;
  const bool hasProductId = productId[0] != '\0';
  std::string text = Format("%s\n", "Graphics card information");
  text = Format("%s\t%s\t\t%s\n", text.c_str(), "Model:", hUx->pszDevID.data());
  text = Format("%s\t%s\t%s\n", text.c_str(), "Serial Number:",
                BoundedText(hUx->szSerialNumber.data(), UX_SERIAL_NUMBER_SIZE).c_str());
  text = Format("%s\t%s\t%s %d %s %d %s %d\n", text.c_str(), "PCI location:", "Bus:", bus,
                "Device:", device, "Function:", function);
  // Whether the version is shown depends on the product ID, not on the version itself.
  if (hasProductId) {
    text = Format("%s\t%s\t%s %d.%d - %d %s\n", text.c_str(),
                  "Graphics BIOS:", "Version:", static_cast<int>((version >> 20) & 0xFF),
                  static_cast<int>((version >> 10) & 0xFF), static_cast<int>(version & 0xFF),
                  hUx->hGBInfo.pszBIOSVerExt);
  } else {
    text = Format("%s\t%s\t%s %s\n", text.c_str(), "Graphics BIOS:", "Version:", kUnknownText);
  }
  return Format("%s\t\t\t%s %s\n", text.c_str(),
                "Product ID:", hasProductId ? productId : kUnknownText);
}

std::string EepromBlock(UXHANDLE hUx) {
  const std::string type =
      BoundedText(reinterpret_cast<const ACHAR*>(hUx->hSEInfo.pszSEepromID), SE_EEPROM_ID_LENGTH);
  if (type.empty()) {
    const std::string text = Format("\t%s\t%s %s\n", "Serial EEPROM:", "Type:", kUnknownText);
    return Format("%s\t\t\t%s %s\n\n", text.c_str(), "Size:", kUnknownText);
  }
  const std::string text = Format("\t%s\t%s %s\n", "Serial EEPROM:", "Type:", type.c_str());
  return Format("%s\t\t\t%s %d KBytes\n\n", text.c_str(),
                "Size:", static_cast<int>(hUx->hSEInfo.ulSEepromSize / 1024));
}

}  // namespace

BOOL32 GetGrapCardModel(PCIHANDLE hPci, ACHAR* pszModel, INT32 nBufferMax) {
  const TvrCard* card = TvrFindCard(CardDeviceId(hPci));
  if (nBufferMax > 0) {
    std::snprintf(pszModel, static_cast<std::size_t>(nBufferMax), "%s",
                  card != nullptr ? card->pszModel : kUnknownText);
  }
  return card != nullptr ? TRUE : FALSE;
}

BOOL32 GetGrapCardSerialNumber(PCIHANDLE hPci, const UINT8* pucPInS, ACHAR* pszSerialNumber) {
  if (TvrFindCard(CardDeviceId(hPci)) == nullptr) {
    return FALSE;
  }
  std::memcpy(pszSerialNumber, pucPInS + GB_PINS_SERIAL_OFFSET, UX_SERIAL_NUMBER_SIZE);
  return TRUE;
}

BOOL32 IsValidBinFile(const UINT8* pucBuffer, UINT32 ulLength) {
  return GBCheckBiosFile(pucBuffer, ulLength);
}

BOOL32 IsBinFileMatchWithBoard(PCIHANDLE hPci, const UINT8* pucBuffer, UINT32 ulLength) {
  UINT16 deviceId = 0;
  const bool match = GBGetBiosFileDeviceID(pucBuffer, ulLength, &deviceId) == TRUE &&
                     deviceId == CardDeviceId(hPci);
  return match ? TRUE : FALSE;
}

BOOL32 DisplayBoardInfo(UXHANDLE hUx) {
  GetGrapCardModel(hUx->hPci, hUx->pszDevID.data(), UX_MODEL_SIZE);
  std::array<UINT8, GB_PINS_SIZE> pins{};
  INT32 written = 0;
  if (GBGetPInSInBuffer(hUx->hGB, pins.data(), GB_PINS_SIZE, &written) == GB_SUCCESS) {
    GetGrapCardSerialNumber(hUx->hPci, pins.data(), hUx->szSerialNumber.data());
  } else {
    std::snprintf(hUx->szSerialNumber.data(), hUx->szSerialNumber.size(), "%s", kUnknownText);
  }
  UxPrintOut(hUx, CardBlock(hUx).c_str());
  UxPrintOut(hUx, EepromBlock(hUx).c_str());
  return TRUE;
}

BOOL32 DisplayBinaryFileInfo(UXHANDLE hUx, const UINT8* pucBuffer, UINT32 ulLength) {
  GB_BIOS_IDENT ident{};
  GBIdentifyBiosBuffer(pucBuffer, ulLength, &ident);
  // The product ID is shown only when the version text was found.
  const ACHAR* extension = ident.bVerExt ? ident.pszVerExt : "";
  const ACHAR* productId = ident.bVerExt ? ident.pszProductID : "";
  std::string text = Format("%s\t%s\n", "Tavrin BIOS file information", "Version:");
  text = Format("%s\t%s\t%d.%d - %d %s\n", text.c_str(),
                "Version:", static_cast<int>(ident.ulVersion >> 20),
                static_cast<int>((ident.ulVersion >> 10) & 0xFF),
                static_cast<int>(ident.ulVersion & 0xFF), extension);
  text = Format("%s\t%s\t%s\n\n", text.c_str(), "Product ID:", productId);
  UxPrintOut(hUx, text.c_str());
  return ident.bVerExt ? TRUE : FALSE;
}

BOOL32 DispatchErrMsg(UXHANDLE hUx, UINT32 ulErrMsgID) {
  for (const ErrorMessage& message : kErrorMessages) {
    if (message.code == ulErrMsgID) {
      UxPrintErrMessage(hUx, message.text);
      return TRUE;
    }
  }
  return FALSE;
}
