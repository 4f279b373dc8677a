// The short description of an IDENTIFY DEVICE word, for the drive details
// list. The word dictionary lives with the IDENTIFY decoding; this narrow
// entry is what the details list calls.
#pragma once

namespace zel {

// The description of IDENTIFY word `word` (0..255); "" for any other number.
const char* IdentifyWordDescription(int word);

}  // namespace zel
