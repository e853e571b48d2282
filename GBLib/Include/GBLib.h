// The BIOS image library: one card's whole serial EEPROM held in memory as a BIOS image,
// with its board record (PInS), its calibration block (MCS) and its subsystem word, and
// the assembly of the image that is written back.
#pragma once

#include "SELib.h"
#include "TvrLib.h"

struct GB_DATA;
// The image object. The caller allocates GBGetHandleSize() bytes; the library fills them.
using GBHANDLE = GB_DATA*;

// Status of every public call: 1 success, the codes below, or a code of the EEPROM
// library passed on unchanged (0 when the image buffer cannot be obtained).
using GB_ERR = INT32;

constexpr GB_ERR GB_SUCCESS = 1;
constexpr GB_ERR GB_ERR_NO_MEMORY = 0;
constexpr GB_ERR GB_ERR_INVALID_HANDLE = 20000;
constexpr GB_ERR GB_ERR_NOT_SUPPORTED = 20001;
// A caller's buffer is too small, a file is larger than the EEPROM (or has a negative
// size), a requested range runs past a block, the PInS text could not be produced, or the
// PInS or calibration block would not fit where an update has to put them.
constexpr GB_ERR GB_ERR_BUFFER_SIZE = 20002;
constexpr GB_ERR GB_ERR_INVALID_PINS_TEXT = 20003;
constexpr GB_ERR GB_ERR_INVALID_PINS = 20004;
constexpr GB_ERR GB_ERR_MCS_NOT_FOUND = 20005;
constexpr GB_ERR GB_ERR_INVALID_MCS = 20006;

constexpr UINT32 GB_LIB_VERSION = 7;
// The board record the supported cards carry, and the buffers the front end uses for it.
constexpr UINT32 GB_PINS_SIZE = 512;

// Public summary of the object.
struct GB_INFO {
  PCIHANDLE hPci;
  SEHANDLE hSE;
  UINT32 ulBIOSVersion;  // major in bits 20-23, minor in bits 10-13, build in bits 0-7
  ACHAR pszBIOSVerExt[16];
  ACHAR pszProductID[8];
};

UINT32 GBGetLibVersion();
UINT32 GBGetHandleSize();
// Builds the object for the card at hPci and reads its whole EEPROM.
GB_ERR GBCreateHandle(GBHANDLE hGB, PCIHANDLE hPci);
GB_ERR GBGetInfo(GBHANDLE hGB, GB_INFO* pGBInfo);
// Frees everything the object holds; harmless to repeat. The record stays the caller's.
GB_ERR GBReleaseHandle(GBHANDLE hGB);

// The PInS copy (not the image) is what these read and change.
GB_ERR GBGetPInSInBuffer(GBHANDLE hGB, UINT8* pucBuffer, INT32 lBufferSize, INT32* lpNbByteWritten);
GB_ERR GBGetPInSInASCIIBuffer(GBHANDLE hGB, ACHAR* pszBuffer, INT32 lBufferSize);
GB_ERR GBSetPInSFromBuffer(GBHANDLE hGB, const UINT8* pucBuffer, INT32 lBufferSize);
// The text needs no terminating zero: exactly lBufferSize characters are read.
GB_ERR GBSetPInSFromASCIIBuffer(GBHANDLE hGB, const ACHAR* pszBuffer, INT32 lBufferSize);
GB_ERR GBGetMCSInBuffer(GBHANDLE hGB, UINT8* pucBuffer, INT32 lBufferSize, INT32* lpNbByteWritten);

// Replaces the BIOS in the image by a file's content. ucDefaultPInS 0 keeps the card's PInS
// (placed where the new BIOS keeps its own), non-zero takes the file's.
GB_ERR GBSetBIOS(GBHANDLE hGB, const UINT8* pucBuffer, INT32 lBufferSize, UINT8 ucDefaultPInS);
// Reads the whole EEPROM afresh into the caller's buffer; the image in memory is untouched.
GB_ERR GBReadImageFromHW(GBHANDLE hGB, UINT8* pucBuffer, UINT32 ulBufferSize);
// Stamps the PInS, places PInS, calibration block and subsystem word, fixes the BIOS
// checksum and writes the whole image to the EEPROM.
GB_ERR GBWriteImageToHW(GBHANDLE hGB);

// What the image object detects in a BIOS, applied to any buffer (a BIOS file's content).
// Every read stays inside the ulSize bytes given; bytes beyond them count as erased (0xFF).
struct GB_BIOS_IDENT {
  BOOL32 bPCIR;           // "PCIR" at the offset given at 0x18
  UINT32 ulVersion;       // packed as in GB_INFO; 0 without "PCIR"
  BOOL32 bVerExt;         // the version extension text was found
  ACHAR pszVerExt[8];     // at most 7 characters; a longer text is cut
  ACHAR pszProductID[8];  // three characters; empty without "PCIR"
};
void GBIdentifyBiosBuffer(const UINT8* pucBuffer, UINT32 ulSize, GB_BIOS_IDENT* pIdent);

// The checks a BIOS file of the maker passes, in this order: the ROM signature, a zero byte
// sum over the BIOS size that byte 2 gives, the maker's name, a PCI data structure with the
// maker's vendor ID, and the PInS signature where the PInS pointer points (not the PInS
// checksum). Every read stays inside the ulSize bytes given: a file too short for a check
// fails it.
BOOL32 GBCheckBiosFile(const UINT8* pucBuffer, UINT32 ulSize);
// The device ID the file's PCI data structure names; FALSE, with *pusDeviceID untouched,
// when the file has no such structure or ends before the ID.
BOOL32 GBGetBiosFileDeviceID(const UINT8* pucBuffer, UINT32 ulSize, UINT16* pusDeviceID);
// The card's serial number in a PInS: 16 bytes, with no terminator when it fills them all.
constexpr UINT32 GB_PINS_SERIAL_OFFSET = 12;
