#include "presplit/unicode.h"

namespace velkan {

const CharClass class_of_category[kGeneralCategoryCount] = {
    CharClass::Other,        // Cc
    CharClass::Other,        // Cf
    CharClass::Other,        // Cn
    CharClass::Other,        // Co
    CharClass::Other,        // Cs
    CharClass::Letter,       // Ll
    CharClass::Letter,       // Lm
    CharClass::Letter,       // Lo
    CharClass::Letter,       // Lt
    CharClass::Letter,       // Lu
    CharClass::Mark,         // Mc
    CharClass::Mark,         // Me
    CharClass::Mark,         // Mn
    CharClass::Number,       // Nd
    CharClass::Number,       // Nl
    CharClass::Number,       // No
    CharClass::Punctuation,  // Pc
    CharClass::Punctuation,  // Pd
    CharClass::Punctuation,  // Pe
    CharClass::Punctuation,  // Pf
    CharClass::Punctuation,  // Pi
    CharClass::Punctuation,  // Po
    CharClass::Punctuation,  // Ps
    CharClass::Symbol,       // Sc
    CharClass::Symbol,       // Sk
    CharClass::Symbol,       // Sm
    CharClass::Symbol,       // So
    CharClass::Separator,    // Zl
    CharClass::Separator,    // Zp
    CharClass::Separator,    // Zs
};

}  // namespace velkan
