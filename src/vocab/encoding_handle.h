// An EncodingHandle pairs a vocabulary's encoding with its pre-split rule
// set (and the encoding's pair filter, which only speeds the driver up). The
// process-wide cache makes one per vocabulary; tokenizers, driver calls and
// pool jobs point at it and never own it.

#ifndef VELKAN_VOCAB_ENCODING_HANDLE_H_
#define VELKAN_VOCAB_ENCODING_HANDLE_H_

#include "core/pair_table.h"
#include "core/token_store.h"
#include "presplit/split_match.h"

namespace velkan {

struct EncodingHandle {
  BytePairEncoding* encoding = nullptr;
  PieceSplitter splitter = nullptr;  // null: texts are encoded whole
  PairFilter pair_filter;            // of encoding->pair_table; empty: none
};

}  // namespace velkan

#endif  // VELKAN_VOCAB_ENCODING_HANDLE_H_
