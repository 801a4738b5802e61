// Support Kit basics: the platform's fixed-width integer types, status type and export macros.
// Every other host header includes this one; add-ons get their names from here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <sys/types.h>

typedef int8_t int8;
typedef uint8_t uint8;
typedef int16_t int16;
typedef uint16_t uint16;
typedef int32_t int32;
typedef uint32_t uint32;
typedef int64_t int64;
typedef uint64_t uint64;
typedef unsigned char uchar;

typedef int32 status_t;
typedef int64 bigtime_t;
typedef uint32 type_code;
typedef uint32 perform_code;
typedef int32 area_id;
typedef int32 team_id;

// Classes and functions of the host library that add-ons and applications reach.
#define KORVO_HOST_API __attribute__((visibility("default")))
// An add-on's C entry point (register_encoder, instantiate_decoder, ...); add-ons build with hidden
// visibility, so only what carries this is visible to the loader.
#define KORVO_EXPORT extern "C" __attribute__((visibility("default")))
