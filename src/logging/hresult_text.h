// Short texts for the common failure statuses, used in every failure message next to
// "HRESULT=0x%x".
#pragma once

#include "runtime/com_types.h"

// The text of a status; "unknown com error" for a status outside the table. The
// returned string is static, so it can be passed straight to a "%s" of trace_f.
const wchar_t* hresult_text(HRESULT status);
