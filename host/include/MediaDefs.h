// Media Kit records and constants: formats of raw and encoded audio and video, codec and file-format
// descriptions, buffer headers and the encode/decode side records, with the platform's published names.
#pragma once

#include "Errors.h"
#include "SupportDefs.h"

// ---- media types and flags ----

enum media_type : int32 {
	B_MEDIA_NO_TYPE = -1,
	B_MEDIA_UNKNOWN_TYPE = 0,
	B_MEDIA_RAW_AUDIO = 1,
	B_MEDIA_RAW_VIDEO = 2,
	B_MEDIA_VBL = 3,
	B_MEDIA_TIMECODE = 4,
	B_MEDIA_MIDI = 5,
	B_MEDIA_TEXT = 6,
	B_MEDIA_HTML = 7,
	B_MEDIA_MULTISTREAM = 8,
	B_MEDIA_PARAMETERS = 9,
	B_MEDIA_ENCODED_AUDIO = 10,
	B_MEDIA_ENCODED_VIDEO = 11,
};

// media_encode_info::flags and media_header::u.encoded_video.field_flags.
enum { B_MEDIA_KEY_FRAME = 0x1 };

// Flags of BMediaTrack::SeekToFrame / SeekToTime and of Extractor::Seek.
enum media_seek_type {
	B_MEDIA_SEEK_CLOSEST_FORWARD = 1,
	B_MEDIA_SEEK_CLOSEST_BACKWARD = 2,
	B_MEDIA_SEEK_DIRECTION_MASK = 3,
};

// The `what` of Decoder::Reset and `toWhat` of Extractor::Seek.
enum { B_SEEK_BY_FRAME = 1, B_SEEK_BY_TIME = 2 };

enum { B_MEDIA_BIG_ENDIAN = 1, B_MEDIA_LITTLE_ENDIAN = 2, B_MEDIA_HOST_ENDIAN = B_MEDIA_LITTLE_ENDIAN };

// ---- colour spaces (GraphicsDefs.h) ----

enum color_space : uint32 {
	B_NO_COLOR_SPACE = 0x0000,
	B_RGB24 = 0x0003,
	B_GRAY8 = 0x0002,
	B_CMAP8 = 0x0004,
	B_RGB16 = 0x0005,
	B_RGB32 = 0x0008,
	B_RGB15 = 0x0010,
	B_RGBA15 = 0x2010,
	B_RGBA32 = 0x2008,
	B_YCbCr422 = 0x4000,
	B_YUV422 = 0x4000,
	B_YCbCr411 = 0x4001,
	B_YCbCr444 = 0x4003,
	B_YCbCr420 = 0x4004,
	B_YUV420 = 0x5004, /* planar: Y rows, then Cb and Cr of half the rows and half the row bytes */
};

enum { B_VIDEO_TOP_LEFT_RIGHT = 1, B_VIDEO_BOTTOM_LEFT_RIGHT = 2 };

// media_video_display_info::flags. For interlaced video (media_raw_video_format::interlace 2) the
// field shown first is the dominant one and one of the fields holds the top line.
enum video_display_flags : uint32 {
	B_F1_DOMINANT = 0x1,
	B_F2_DOMINANT = 0x2,
	B_TOP_SCANLINE_F1 = 0x4,
	B_TOP_SCANLINE_F2 = 0x8,
	// This host's additions: the range of Y'CbCr samples, where the source says it.
	B_VIDEO_LIMITED_RANGE = 0x100,  // 16..235 (chroma 16..240)
	B_VIDEO_FULL_RANGE = 0x200,     // 0..255
};

// ---- raw formats ----

struct KORVO_HOST_API media_raw_audio_format {
	enum {
		B_AUDIO_FLOAT = 0x24,
		B_AUDIO_DOUBLE = 0x28,
		B_AUDIO_INT = 0x4,
		B_AUDIO_SHORT = 0x2,
		B_AUDIO_UCHAR = 0x11,
		B_AUDIO_CHAR = 0x1,
		B_AUDIO_SIZE_MASK = 0xf,
	};
	float frame_rate;
	uint32 channel_count;
	uint32 format;
	uint32 byte_order;
	size_t buffer_size;

	static const media_raw_audio_format wildcard;
};

struct media_multi_audio_info {
	uint32 channel_mask;
	int16 valid_bits;
	uint16 matrix_mask;
	uint32 _reserved_b[3];
};

struct KORVO_HOST_API media_multi_audio_format : media_raw_audio_format, media_multi_audio_info {
	static const media_multi_audio_format wildcard;
};

struct media_video_display_info {
	color_space format;
	uint32 line_width;
	uint32 line_count;
	uint32 bytes_per_row;
	uint32 pixel_offset;
	uint32 line_offset;
	uint32 flags;
};

// Bytes of one picture: bytes_per_row per line, and for planar 4:2:0 two chroma planes of half the
// lines and half the row bytes after the luminance.
inline size_t raw_video_frame_bytes(const media_video_display_info& d)
{
	const size_t luma = (size_t)d.bytes_per_row * d.line_count;
	if (d.format == B_YUV420)
		return luma + 2 * (size_t)(d.bytes_per_row / 2) * (d.line_count / 2);
	return luma;
}

struct KORVO_HOST_API media_raw_video_format {
	float field_rate;
	uint32 interlace;
	uint32 first_active;
	uint32 last_active;
	uint32 orientation;
	uint16 pixel_width_aspect;
	uint16 pixel_height_aspect;
	media_video_display_info display;

	static const media_raw_video_format wildcard;
};

// ---- encoded formats ----
// The encodings are the numbers BMediaFormats::MakeFormatFor hands out; they are plain integers so an
// add-on stores the host's number without casts. 0 is the wildcard.

struct KORVO_HOST_API media_encoded_audio_format {
	typedef int32 audio_encoding;
	enum { B_ANY = 0 };
	media_raw_audio_format output;
	audio_encoding encoding;
	float bit_rate;
	size_t frame_size;
	media_multi_audio_info multi_info;

	static const media_encoded_audio_format wildcard;
};

struct KORVO_HOST_API media_encoded_video_format {
	typedef int32 video_encoding;
	enum { B_ANY = 0 };
	media_raw_video_format output;
	float avg_bit_rate;
	float max_bit_rate;
	video_encoding encoding;
	size_t frame_size;
	int16 forward_history;
	int16 backward_history;

	static const media_encoded_video_format wildcard;
};

// ---- media_format ----
// 192 bytes, plain data: clearing it with memset or copying it with memcpy is safe. The constructor
// clears it.

struct KORVO_HOST_API media_format {
	media_type type;
	type_code user_data_type;
	uchar user_data[48];
	uint32 require_flags;
	uint32 deny_flags;
	union {
		media_multi_audio_format raw_audio;
		media_raw_video_format raw_video;
		media_encoded_audio_format encoded_audio;
		media_encoded_video_format encoded_video;
		char _reserved_[96];
	} u;
	uint32 _reserved_tail_[8];

	media_format();

	bool IsVideo() const { return type == B_MEDIA_RAW_VIDEO || type == B_MEDIA_ENCODED_VIDEO; }
	bool IsAudio() const { return type == B_MEDIA_RAW_AUDIO || type == B_MEDIA_ENCODED_AUDIO; }
	// The encoding of an encoded format, 0 for anything else.
	int32 Encoding() const;
	// Same type and, for encoded formats, the same encoding.
	bool Matches(const media_format& other) const;
};

static_assert(sizeof(media_format) == 192, "media_format keeps the platform's size");

// ---- format descriptions (what a format is called in each file family) ----

enum media_format_family : uint32 {
	B_ANY_FORMAT_FAMILY = 0,
	B_BEOS_FORMAT_FAMILY = 1,
	B_QUICKTIME_FORMAT_FAMILY = 2,
	B_AVI_FORMAT_FAMILY = 3,
	B_ASF_FORMAT_FAMILY = 4,
	B_MPEG_FORMAT_FAMILY = 5,
	B_WAV_FORMAT_FAMILY = 6,
	B_AIFF_FORMAT_FAMILY = 7,
	B_AVR_FORMAT_FAMILY = 8,
	B_MISC_FORMAT_FAMILY = 99999,
};

struct media_beos_description {
	uint32 format;
	uint32 _reserved_[2];
};
struct media_quicktime_description {
	uint32 codec;
	uint32 vendor;
	uint32 _reserved_[2];
};
struct media_avi_description {
	uint32 codec;
	uint32 _reserved_[7];
};
struct media_avr_description {
	uint32 id;
	uint32 _reserved_[7];
};
struct media_mpeg_description {
	uint32 id;
	uint32 _reserved_[7];
};
struct media_wav_description {
	uint32 codec;
	uint32 _reserved_[7];
};
struct media_aiff_description {
	uint32 codec;
	uint32 _reserved_[7];
};
struct media_asf_description {
	uint8 guid[16];
	uint32 _reserved_[4];
};
struct media_misc_description {
	uint32 file_format;
	uint32 codec;
	uint32 _reserved_[6];
};

struct KORVO_HOST_API media_format_description {
	media_format_family family;
	uint32 _reserved_[3];
	union {
		media_beos_description beos;
		media_quicktime_description quicktime;
		media_avi_description avi;
		media_asf_description asf;
		media_mpeg_description mpeg;
		media_wav_description wav;
		media_aiff_description aiff;
		media_misc_description misc;
		media_avr_description avr;
		uint32 _reserved_[16];
	} u;

	media_format_description();  // all zero
	bool operator==(const media_format_description& other) const;
};

// ---- codecs and file formats ----

struct media_codec_info {
	char pretty_name[96];
	char short_name[32];
	int32 id;
	int32 sub_id;
	int32 pad[63];
};

struct media_file_format_id {
	dev_t device;
	ino_t node;
	uint32 internal_id;
};

struct media_file_format {
	enum {
		B_READABLE = 0x1,
		B_WRITABLE = 0x2,
		B_PERFECTLY_SEEKABLE = 0x4,
		B_IMPERFECTLY_SEEKABLE = 0x8,
		B_KNOWS_RAW_VIDEO = 0x10,
		B_KNOWS_RAW_AUDIO = 0x20,
		B_KNOWS_MIDI = 0x40,
		B_KNOWS_ENCODED_VIDEO = 0x80,
		B_KNOWS_ENCODED_AUDIO = 0x100,
		B_KNOWS_OTHER = 0x1000000,
		B_KNOWS_ANYTHING = 0x2000000,
	};
	uint32 capabilities;
	media_file_format_id id;
	media_format_family family;
	int32 version;
	uint32 _reserved_[25];
	char mime_type[64];
	char pretty_name[64];
	char short_name[32];
	char file_extension[8];
	char reserved[88];
};

// Fills `mfi` afresh: capabilities, family, version and its names, each cut to its field. Readers and
// writers describe their container through it.
KORVO_HOST_API void fill_media_file_format(media_file_format* mfi, uint32 capabilities,
                                           media_format_family family, int32 version, const char* mimeType,
                                           const char* prettyName, const char* shortName,
                                           const char* extension);

// ---- per-buffer records ----

struct media_video_header {
	uint32 _reserved_[8];
	float field_gamma;
	uint32 field_sequence;
	uint16 field_number;
	uint16 pulldown_number;
	uint16 first_active_line;
	uint16 line_count;
};

struct media_encoded_video_header {
	uint32 _reserved_[9];
	uint32 field_flags;  // B_MEDIA_KEY_FRAME for a chunk that decodes on its own
	int16 forward_history;
	int16 backward_history;
	uint16 unused_mask;
	uint16 line_count;
};

struct media_audio_header {
	uint32 _reserved_[16];
};

// media_header::damage. A decoder sets the first three for a buffer it decoded as well as it could
// (parts it could not read keep the previous picture); a reader sets the last for a chunk that its
// file's index places where no media data is.
enum {
	B_MEDIA_DAMAGE_TRUNCATED = 0x1,     // the data ended before the frame was complete
	B_MEDIA_DAMAGE_INVALID_CODE = 0x2,  // the data held a code that cannot be decoded
	B_MEDIA_DAMAGE_OVERREAD = 0x4,      // the frame needed more bytes than its chunk has
	B_MEDIA_DAMAGE_CONTAINER = 0x8,     // the file's index for the chunk is wrong
};

// What one chunk or one decoded buffer is: its size, presentation time and place in the file.
struct KORVO_HOST_API media_header {
	media_type type;
	int32 buffer;
	int32 destination;
	int32 time_source;
	uint32 _deprecated_;
	uint32 size_used;
	bigtime_t start_time;
	area_id owner;
	type_code user_data_type;
	uchar user_data[64];
	uint32 damage;  // B_MEDIA_DAMAGE_* flags: what was found wrong with the data behind it, 0 if nothing
	uint32 _reserved_[1];
	off_t file_pos;
	size_t orig_size;
	uint32 data_offset;
	union {
		media_audio_header raw_audio;
		media_video_header raw_video;
		media_encoded_video_header encoded_video;
		uint32 _reserved_[16];
	} u;

	media_header();  // all zero
};

// Handed to Encoder::Encode and on to WriteChunk: B_MEDIA_KEY_FRAME in `flags` marks a key frame.
struct KORVO_HOST_API media_encode_info {
	uint32 flags;
	int32 used_data_size;
	bigtime_t start_time;
	bigtime_t time_to_encode;
	int32 _pad[22];
	void* file_format_data;
	size_t file_format_data_size;
	void* codec_data;
	size_t codec_data_size;

	media_encode_info();  // all zero
};

struct KORVO_HOST_API media_decode_info {
	bigtime_t time_to_decode;
	int32 _pad[26];
	void* file_format_data;
	size_t file_format_data_size;
	void* codec_data;
	size_t codec_data_size;

	media_decode_info();  // all zero
};

// Encoder settings the application and the encoder exchange; quality runs 0..1.
struct encode_parameters {
	float quality;
	int32 avg_field_size;
	int32 max_field_size;
	int32 _pad[27];
};
