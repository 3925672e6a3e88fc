// Natively the keys are compiled into every program (the generated header).
#include "trust/built_in_keys.h"
#include "trust_keys_text.h"

std::string BuiltInTrustKeysText() { return kTrustKeysText; }
