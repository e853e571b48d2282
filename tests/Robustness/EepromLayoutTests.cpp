// The EEPROM object's own record against what it hands out. (Its header and the image
// library's both name the supported chips, so they are checked in separate files.)
#include "SEInternal.h"

namespace {

static_assert(sizeof(SE_128K{}.m_pszSEepromID) == sizeof(SE_INFO{}.pszSEepromID),
              "the part name is handed out whole");
static_assert(SE_CAPACITY == 131072, "the parts the object speaks to are 1 Mbit");

}  // namespace
