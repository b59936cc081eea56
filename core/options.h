// The public option records as the core reads them.
#pragma once

#include <cstddef>

#include "korvane.h"

static_assert(sizeof(CompressOpts) == 64);
static_assert(offsetof(CompressOpts, level) == 0);
static_assert(offsetof(CompressOpts, record_timings) == 4);
static_assert(offsetof(CompressOpts, dict_id) == 12);
static_assert(offsetof(CompressOpts, merkle_root) == 16);
static_assert(offsetof(CompressOpts, min_match_distance) == 20);
static_assert(offsetof(CompressOpts, wrt) == 24);
static_assert(offsetof(CompressOpts, chunk_table) == 28);
static_assert(offsetof(CompressOpts, content_checksum) == 32);
static_assert(offsetof(CompressOpts, sc_group_size) == 36);
static_assert(offsetof(CompressOpts, byte_plane_stride) == 40);
static_assert(sizeof(DecompressOpts) == 32);
static_assert(offsetof(DecompressOpts, record_timings) == 0);
