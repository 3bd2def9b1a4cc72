// DES, three-key triple DES and Base64: the block and text layer beneath the stored password.
// Both are pure rules of the portable core; this header keeps the guard's one include for them.
#pragma once
#include "core/base64.h"
#include "core/des.h"
