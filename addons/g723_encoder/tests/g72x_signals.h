// Test signals, a packing coder loop and libsndfile's G.723 decoder behind an in-memory AU file, shared
// by the coder's tests.
#pragma once

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "g72x.h"

namespace g72x_test {

struct Coded {
	std::vector<uint8_t> bytes;  // codes packed three bits at a time, least significant first
	std::vector<int> codes;
	std::vector<int16_t> reconstructed;
};

inline Coded Encode(const std::vector<int16_t>& samples)
{
	Coded out;
	g72x_state state;
	g72x_init_state(&state);
	uint32_t bits = 0;
	int count = 0;
	for (int16_t s : samples) {
		int recon = 0;
		const int code = g723_24_encode(s, G72X_CODING_LINEAR, &state, &recon);
		out.codes.push_back(code);
		// A 16-bit decoder stores its output in 16 bits.
		out.reconstructed.push_back(static_cast<int16_t>(recon));
		bits |= static_cast<uint32_t>(code) << count;
		count += 3;
		if (count > 7) {
			out.bytes.push_back(static_cast<uint8_t>(bits));
			bits >>= 8;
			count -= 8;
		}
	}
	if (count)
		out.bytes.push_back(static_cast<uint8_t>(bits));
	return out;
}

inline void PutBE32(std::vector<uint8_t>& v, uint32_t x)
{
	for (int shift = 24; shift >= 0; shift -= 8)
		v.push_back(static_cast<uint8_t>(x >> shift));
}

// An in-memory file for libsndfile's virtual I/O.
struct Memory {
	std::vector<uint8_t> data;
	sf_count_t pos = 0;
};

inline sf_count_t MemLength(void* user) { return static_cast<Memory*>(user)->data.size(); }
inline sf_count_t MemSeek(sf_count_t offset, int whence, void* user)
{
	auto* m = static_cast<Memory*>(user);
	const sf_count_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? m->pos : m->data.size();
	m->pos = std::clamp<sf_count_t>(base + offset, 0, m->data.size());
	return m->pos;
}
inline sf_count_t MemRead(void* ptr, sf_count_t count, void* user)
{
	auto* m = static_cast<Memory*>(user);
	const sf_count_t n = std::min<sf_count_t>(count, m->data.size() - m->pos);
	memcpy(ptr, m->data.data() + m->pos, n);
	m->pos += n;
	return n;
}
inline sf_count_t MemWrite(const void*, sf_count_t, void*) { return 0; }
inline sf_count_t MemTell(void* user) { return static_cast<Memory*>(user)->pos; }

// Decodes G.723 3-bit codes with libsndfile, through a mono AU file of encoding 25 (libsndfile's G.723
// codec takes one channel only).
inline std::vector<int16_t> DecodeWithSndfile(const std::vector<uint8_t>& codes)
{
	Memory file;
	const uint8_t magic[4] = {'.', 's', 'n', 'd'};
	file.data.assign(magic, magic + 4);
	PutBE32(file.data, 24);
	PutBE32(file.data, static_cast<uint32_t>(codes.size()));
	PutBE32(file.data, 25);  // G.723 3-bit ADPCM
	PutBE32(file.data, 8000);
	PutBE32(file.data, 1);
	file.data.insert(file.data.end(), codes.begin(), codes.end());

	SF_VIRTUAL_IO io = {MemLength, MemSeek, MemRead, MemWrite, MemTell};
	SF_INFO info = {};
	SNDFILE* sf = sf_open_virtual(&io, SFM_READ, &info, &file);
	EXPECT_NE(sf, nullptr) << sf_strerror(nullptr);
	if (!sf)
		return {};
	EXPECT_EQ(info.format, SF_FORMAT_AU | SF_FORMAT_G723_24);
	EXPECT_EQ(info.channels, 1);
	std::vector<int16_t> out(static_cast<size_t>(info.frames) + 64);
	const sf_count_t got = sf_read_short(sf, out.data(), out.size());
	out.resize(got);
	sf_close(sf);
	return out;
}

// Compares the decoder's output with the coder's reconstruction; returns the samples that agree.
inline size_t ExpectDecoderAgrees(const std::vector<int16_t>& signal)
{
	const Coded coded = Encode(signal);
	const std::vector<int16_t> decoded = DecodeWithSndfile(coded.bytes);
	// The decoder pads its last block with zero codes; the signal's own samples come first.
	EXPECT_GE(decoded.size(), signal.size());
	const size_t n = std::min(decoded.size(), signal.size());
	size_t mismatches = 0;
	for (size_t i = 0; i < n; i++) {
		if (decoded[i] != coded.reconstructed[i] && mismatches++ < 5)
			ADD_FAILURE() << "sample " << i << ": decoder " << decoded[i] << ", coder "
			              << coded.reconstructed[i];
	}
	EXPECT_EQ(mismatches, 0u);
	EXPECT_EQ(n - mismatches, signal.size());
	printf("decoder agrees on %zu of %zu samples\n", n - mismatches, signal.size());
	return n - mismatches;
}

inline std::vector<int16_t> Clip(const std::vector<double>& v)
{
	std::vector<int16_t> out;
	for (double x : v)
		out.push_back(static_cast<int16_t>(std::clamp(std::lround(x), -32768L, 32767L)));
	return out;
}

inline std::vector<int16_t> Speech(size_t n, unsigned seed)
{
	// Voiced segments (a glottal pulse train through three formant resonators with a syllable
	// envelope) alternating with noise bursts and pauses.
	std::mt19937 rng(seed);
	std::normal_distribution<double> noise(0.0, 1.0);
	const double formants[3] = {700, 1220, 2600}, bandwidth[3] = {130, 70, 160};
	double y1[3] = {}, y2[3] = {};
	std::vector<double> out(n);
	for (size_t i = 0; i < n; i++) {
		const double t = i / 8000.0;
		const double syllable = std::fabs(std::sin(2 * M_PI * 3.1 * t));
		const int phase = static_cast<int>(t * 6.2) % 4;
		double excitation = 0;
		if (phase < 2)
			excitation = (i % 64 == 0 ? 6000.0 : 0.0) * syllable;
		else if (phase == 2)
			excitation = 900.0 * noise(rng) * syllable;
		double sum = 0;
		for (int k = 0; k < 3; k++) {
			const double r = std::exp(-M_PI * bandwidth[k] / 8000.0);
			const double c = 2 * r * std::cos(2 * M_PI * formants[k] / 8000.0);
			const double y = excitation + c * y1[k] - r * r * y2[k];
			y2[k] = y1[k];
			y1[k] = y;
			sum += y;
		}
		out[i] = sum * 0.5;
	}
	return Clip(out);
}

inline std::vector<int16_t> Tone(size_t n, double freq, double amplitude)
{
	std::vector<double> out(n);
	for (size_t i = 0; i < n; i++)
		out[i] = amplitude * std::sin(2 * M_PI * freq * i / 8000.0);
	return Clip(out);
}

inline std::vector<int16_t> Square(size_t n, size_t period)
{
	std::vector<int16_t> out(n);
	for (size_t i = 0; i < n; i++)
		out[i] = (i / (period / 2)) % 2 ? -32768 : 32767;
	return out;
}

inline std::vector<int16_t> Noise(size_t n, unsigned seed, int amplitude)
{
	std::mt19937 rng(seed);
	std::uniform_int_distribution<int> d(-amplitude - 1, amplitude);
	std::vector<int16_t> out(n);
	for (int16_t& s : out)
		s = static_cast<int16_t>(d(rng));
	return out;
}

}  // namespace g72x_test
