// Lookup tables: every sample mapped through 256-entry tables of 8-bit
// values (16-bit samples through 65536-entry tables interpolated from them).
#pragma once

#include <cstddef>
#include <cstdint>

#include "image/Image.hh"

// With g and b given, a colour image maps each channel through its own
// table; otherwise r maps every colour sample. Alpha is never mapped. With
// src the samples are read from src and image takes its size and type.
// Without r nothing happens; images of 1, 2 or 4 bits are left alone.
void lut(Image& image, const uint8_t* r, const uint8_t* g, const uint8_t* b, Image* src = nullptr);

// A table from script values: entry i is the low 8 bits of values[i] for
// the count values given, the identity for the entries not given.
void lut_table_from(uint8_t* table, const int64_t* values, size_t count);

// The 16-bit table of an 8-bit one: linear between the 8-bit steps with a
// weight resolution of 1/256.
void lut_table16(const uint8_t* t, uint16_t* out);
