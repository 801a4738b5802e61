// The G.723 24 kbit/s ADPCM coder and decoder (the 24 kbit/s mode of G.726): one state record per coded
// stream and the fixed-point building blocks both directions share, exact to the algorithm.
#pragma once

#include <cstdint>

// Adaptive quantiser, predictor and detector state of one coded stream. Floating-format values hold
// a 4-bit exponent in bits 6..9, a 6-bit mantissa in bits 0..5 and are negative when the sign is set.
struct g72x_state {
	int32_t yl;     // locked (slow) quantiser scale factor
	int16_t yu;     // unlocked (fast) scale factor
	int16_t dms;    // short-term average of the code magnitude
	int16_t dml;    // long-term average of the code magnitude
	int16_t ap;     // speed-control parameter
	int16_t a[2];   // pole predictor coefficients
	int16_t b[6];   // zero predictor coefficients
	int16_t pk[2];  // signs of the last two partially reconstructed signals
	int16_t dq[6];  // last six quantised differences, floating format
	int16_t sr[2];  // last two reconstructed samples, floating format
	uint8_t td;     // tone/transition detector flag
};

// Input codings of g723_24_encoder.
enum {
	G72X_CODING_ULAW = 1,
	G72X_CODING_ALAW = 2,
	G72X_CODING_LINEAR = 3,
};

// Powers of two 1..16384, the table `quan` searches to find exponents.
extern const int16_t power2[15];

void g72x_init_state(g72x_state* state);

// Codes one sample (16-bit linear, or a G.711 byte for mu-law / A-law) into a code word 0..7;
// -1 for an unknown coding, with the state untouched.
int g723_24_encoder(int sample, int in_coding, g72x_state* state);

// The same, also giving the 16-bit linear sample a decoder reconstructs from the code (14 bits scaled
// by four, kept in 16 bits as a decoder's output register keeps it)
// (`reconstructed` may be null).
int g723_24_encode(int sample, int in_coding, g72x_state* state, int* reconstructed);

// Decodes one code word (its low three bits) into a 16-bit linear sample, the value the encoder
// reconstructed for it; only G72X_CODING_LINEAR output is offered, any other coding gives -1 with
// the state untouched. Meant for one state per coded stream, like the encoder.
int g723_24_decoder(int code, int out_coding, g72x_state* state);

int quan(int value, const int16_t* table, int size);
int fmult(int an, int srn);
int predictor_zero(const g72x_state* state);
int predictor_pole(const g72x_state* state);
int step_size(const g72x_state* state);
int quantize(int d, int y, const int16_t* table, int size);
int reconstruct(int sign, int dqln, int y);
void update(int code_size, int y, int wi, int fi, int dq, int sr, int dqsez, g72x_state* state);

// G.711 expansion to 16-bit linear.
int ulaw_to_linear(uint8_t code);
int alaw_to_linear(uint8_t code);
