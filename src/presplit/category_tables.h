// The General_Category tables of Unicode 16.0.0: code point -> block (stage
// 1), block entry -> record (stage 2), record -> category index. The data is
// generated into category_tables.cc by gen_categories.py; use char_category.

#ifndef VELKAN_PRESPLIT_CATEGORY_TABLES_H_
#define VELKAN_PRESPLIT_CATEGORY_TABLES_H_

#include <cstdint>

namespace velkan {

inline constexpr uint32_t kCategoryBlockSize = 128;
// One entry per block; 8704 * 128 = 0x110000 covers U+0000..U+10FFFF.
inline constexpr uint32_t kCategoryStage1Size = 0x110000 / kCategoryBlockSize;

extern const uint32_t category_block_count;   // distinct blocks in stage 2
extern const uint32_t category_record_count;  // entries of category_records

extern const uint16_t category_stage1[kCategoryStage1Size];
// category_block_count blocks of kCategoryBlockSize record numbers.
extern const uint16_t category_stage2[];
// The category index (a GeneralCategory) of each record.
extern const uint8_t category_records[];

}  // namespace velkan

#endif  // VELKAN_PRESPLIT_CATEGORY_TABLES_H_
