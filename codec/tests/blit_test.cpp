// Block writers and frame writers: every family member against a per-sample reference (values far
// outside the clamp tables included), IntraBlit/IntraBlit2 and VopToPlanes per macroblock kind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include "frame_internal.h"
#include "korvo.h"
#include "pixel_internal.h"
#include "reconstruct_internal.h"
namespace {

class KorvaxEnvironment : public ::testing::Environment {
public:
	void SetUp() override { ASSERT_EQ(InitKorvax(), 0); }
	void TearDown() override { TerminateKorvax(); }
};
const auto* const gEnvironment = ::testing::AddGlobalTestEnvironment(new KorvaxEnvironment);

constexpr uint8_t kSentinel = 0x5A;
constexpr uint32_t kStride = 29, kRows = 26, kColumn = 9, kRow = 11;

uint8_t Clamp255(int v) { return uint8_t(std::clamp(v, 0, 255)); }

// Random 16-bit values, a third of them beyond -2048..2047 and many near 0..255.
void FillValues(int16_t* v, std::mt19937& rng)
{
	for (int i = 0; i < 64; ++i) {
		switch (rng() % 3) {
			case 0: v[i] = int16_t(rng()); break;
			case 1: v[i] = int16_t(int(rng() % 600) - 170); break;
			default: v[i] = int16_t(int(rng() % 4200) - 2100); break;
		}
	}
	v[0] = INT16_MIN, v[1] = INT16_MAX, v[2] = -2049, v[3] = 2048, v[4] = 255, v[5] = 256, v[6] = -1;
}

enum class Op { Set, SetAdd, Add };

// Each member writes the block whose top-left sample is (kColumn, kRow) of a kStride-wide buffer.
using Writer = void (*)(uint8_t* buf, const int16_t* a, const int16_t* b);

struct Member {
	const char* name;
	Op op;
	Writer call;
};

Plane BufferPlane(uint8_t* buf) { return Plane{kStride, kRows, buf, buf}; }
uint8_t* At(uint8_t* buf) { return buf + kRow * kStride + kColumn; }

// clang-format off
const Member kMembers[] = {
    {"BlitSetBlock3", Op::Set, [](uint8_t* d, const int16_t* a, const int16_t*) { BlitSetBlock3(At(d), kStride, a); }},
    {"BlitSetBlock", Op::Set, [](uint8_t* d, const int16_t* a, const int16_t*) {
        BlitSetBlock(d, kStride, kColumn, kRow, a); }},
    {"BlitSetBlock2", Op::Set, [](uint8_t* d, const int16_t* a, const int16_t*) { BlitSetBlock2(At(d), kStride, a); }},
    {"BlitSetBlockAdd2", Op::SetAdd, [](uint8_t* d, const int16_t* a, const int16_t* b) {
        BlitSetBlockAdd2(At(d), kStride, a, b); }},
    {"BlitSetBlockAdd", Op::SetAdd, [](uint8_t* d, const int16_t* a, const int16_t* b) {
        BlitSetBlockAdd(d, kStride, kColumn, kRow, a, b); }},
    {"BlitSetBlockAdd3", Op::SetAdd, [](uint8_t* d, const int16_t* a, const int16_t* b) {
        BlitSetBlockAdd3(At(d), kStride, a, b); }},
    {"BlitAddBlock3", Op::Add, [](uint8_t* d, const int16_t* a, const int16_t*) { BlitAddBlock3(At(d), kStride, a); }},
    {"BlitAddBlock", Op::Add, [](uint8_t* d, const int16_t* a, const int16_t*) {
        BlitAddBlock(d, kStride, kColumn, kRow, a); }},
    {"BlitAddBlock2", Op::Add, [](uint8_t* d, const int16_t* a, const int16_t*) { BlitAddBlock2(At(d), kStride, a); }},
    {"BlitAddBlock4", Op::Add, [](uint8_t* d, const int16_t* a, const int16_t*) { BlitAddBlock4(At(d), kStride, a); }},
    {"SetPlaneBlock16", Op::Set, [](uint8_t* d, const int16_t* a, const int16_t*) {
        Plane p = BufferPlane(d); SetPlaneBlock16(&p, kColumn, kRow, a); }},
    {"SetPlaneBlock16Add", Op::SetAdd, [](uint8_t* d, const int16_t* a, const int16_t* b) {
        Plane p = BufferPlane(d); SetPlaneBlock16Add(&p, kColumn, kRow, a, b); }},
    {"AddPlaneBlock16", Op::Add, [](uint8_t* d, const int16_t* a, const int16_t*) {
        Plane p = BufferPlane(d); AddPlaneBlock16(&p, kColumn, kRow, a); }},
};
// clang-format on

TEST(BlockWriters, EveryMemberMatchesReferenceAndStaysInItsBlock)
{
	std::mt19937 rng(7);
	for (int trial = 0; trial < 50; ++trial) {
		int16_t a[64], b[64];
		FillValues(a, rng);
		FillValues(b, rng);
		std::vector<uint8_t> start(kStride * kRows);
		for (uint8_t& x : start)
			x = uint8_t(rng());
		for (const Member& m : kMembers) {
			std::vector<uint8_t> actual = start, expected = start;
			m.call(actual.data(), a, b);
			for (int i = 0; i < 64; ++i) {
				uint8_t& s = expected[(kRow + i / 8) * kStride + kColumn + i % 8];
				switch (m.op) {
					case Op::Set: s = Clamp255(a[i]); break;
					case Op::SetAdd: s = Clamp255(a[i] + b[i]); break;
					case Op::Add: s = Clamp255(s + a[i]); break;
				}
			}
			ASSERT_EQ(actual, expected) << m.name << " trial " << trial;
		}
	}
}

TEST(BlockWriters, SetBlock4StoresWordsWithTheFirstSampleMostSignificant)
{
	std::mt19937 rng(8);
	int16_t v[64];
	FillValues(v, rng);
	std::vector<uint8_t> buf(kStride * kRows, kSentinel);
	BlitSetBlock4(At(buf.data()), kStride, v);
	for (int row = 0; row < 8; ++row) {
		for (int half = 0; half < 2; ++half) {
			uint32_t word;
			std::memcpy(&word, At(buf.data()) + row * kStride + 4 * half, 4);
			const int16_t* q = v + 8 * row + 4 * half;
			const uint32_t expected = uint32_t(Clamp255(q[0])) << 24 | uint32_t(Clamp255(q[1])) << 16 |
			                          uint32_t(Clamp255(q[2])) << 8 | Clamp255(q[3]);
			EXPECT_EQ(word, expected) << row << "," << half;
		}
		EXPECT_EQ(At(buf.data())[row * kStride + 8], kSentinel);
		EXPECT_EQ(At(buf.data())[int(row * kStride) - 1], kSentinel);
	}
}

TEST(BlockWriters, SetPlaneBlockCopiesAndGetPlaneBlockReadsBack)
{
	std::vector<uint8_t> buf(kStride * kRows, kSentinel);
	Plane p = BufferPlane(buf.data());
	uint8_t in[64], out[64];
	for (int i = 0; i < 64; ++i)
		in[i] = uint8_t(3 * i + 1);
	SetPlaneBlock(&p, kColumn, kRow, in);
	std::vector<uint8_t> expected(kStride * kRows, kSentinel);
	for (int i = 0; i < 64; ++i)
		expected[(kRow + i / 8) * kStride + kColumn + i % 8] = in[i];
	EXPECT_EQ(buf, expected);
	GetPlaneBlock(&p, kColumn, kRow, out);
	EXPECT_EQ(0, std::memcmp(in, out, 64));
	GetPlaneBlock(&p, kColumn + 1, kRow, out);
	EXPECT_EQ(out[7], kSentinel);
	EXPECT_EQ(out[0], in[1]);
}

// ---- Frame writers ----------------------------------------------------------------------------

struct Context {
	KorvParams* params;
	Context(uint32_t w, uint32_t h) : params(NewKorvParamsPtr(2, w, h)) {}
	~Context() { DisposeKorvParamsPtr(params); }
	Vop* vop() const { return params->vop; }
};

// The plane and position of block b of a macroblock.
uint8_t* BlockAt(const Vop* vop, const MacroBlock* mb, int b, uint32_t* stride)
{
	if (b < 4) {
		*stride = vop->planeY->width;
		return vop->planeY->data + (16 + 16 * mb->mbY + 8 * (b / 2)) * *stride + 16 + 16 * mb->mbX +
		       8 * (b % 2);
	}
	const Plane* p = b == 4 ? vop->planeU : vop->planeV;
	*stride = p->width;
	return p->data + (8 + 8 * mb->mbY) * *stride + 8 + 8 * mb->mbX;
}

struct Planes {
	std::vector<uint8_t> y, u, v;
	bool operator==(const Planes&) const = default;
};
Planes Snapshot(const Vop* vop)
{
	auto copy = [](const Plane* p) { return std::vector<uint8_t>(p->data, p->data + p->width * p->height); };
	return {copy(vop->planeY), copy(vop->planeU), copy(vop->planeV)};
}

void Randomize(Vop* vop, std::mt19937& rng)
{
	for (Plane* p : {vop->planeY, vop->planeU, vop->planeV})
		for (uint32_t i = 0; i < p->width * p->height; ++i)
			p->data[i] = uint8_t(rng());
	for (uint32_t i = 0; i < vop->mbCount; ++i)
		for (Block& b : vop->mbs[i]->blocks) {
			FillValues(b.recon, rng);
			for (int16_t& p : b.pred)
				p = int16_t(rng() % 256);
		}
}

// Applies fn(block, destination, stride) to the blocks of macroblocks below count, on a copy.
Planes Expected(Vop* vop, uint32_t count,
                const std::function<void(const MacroBlock&, const Block&, uint8_t*, uint32_t)>& fn)
{
	const Planes before = Snapshot(vop);
	for (uint32_t i = 0; i < count; ++i)
		for (int b = 0; b < 6; ++b) {
			uint32_t stride;
			uint8_t* dst = BlockAt(vop, vop->mbs[i], b, &stride);
			fn(*vop->mbs[i], vop->mbs[i]->blocks[b], dst, stride);
		}
	Planes after = Snapshot(vop);
	// Put the planes back as they were.
	std::memcpy(vop->planeY->data, before.y.data(), before.y.size());
	std::memcpy(vop->planeU->data, before.u.data(), before.u.size());
	std::memcpy(vop->planeV->data, before.v.data(), before.v.size());
	return after;
}

void SetClamped(const int16_t* values, uint8_t* dst, uint32_t stride)
{
	for (int i = 0; i < 64; ++i)
		dst[(i / 8) * stride + i % 8] = Clamp255(values[i]);
}

TEST(IntraBlit, WritesEveryReadMacroBlockAndKeepsTheUnreadOnes)
{
	std::mt19937 rng(9);
	Context c(40, 24);
	Vop* vop = c.vop();
	for (auto blit : {IntraBlit, IntraBlit2}) {
		for (uint32_t read : {vop->mbCount, 2u, 0u}) {
			Randomize(vop, rng);
			vop->mbsRead = int16_t(read);
			const Planes expected =
			        Expected(vop, read, [](const MacroBlock&, const Block& b, uint8_t* d, uint32_t s) {
				        SetClamped(b.recon, d, s);
			        });
			blit(c.params);
			EXPECT_TRUE(Snapshot(vop) == expected) << "mbsRead " << read;
		}
	}
}

TEST(VopToPlanes, IVopGoesThroughHookSlot10)
{
	Context c(16, 16);
	ASSERT_EQ(gHooks.intraBlit, &IntraBlit);
	std::mt19937 rng(10);
	Vop* vop = c.vop();
	Randomize(vop, rng);
	vop->codingType = kCodingTypeI;
	vop->coded = 1;
	static int calls;
	calls = 0;
	gHooks.intraBlit = [](KorvParams*) { ++calls; };
	const Planes before = Snapshot(vop);
	EXPECT_EQ(VopToPlanes(c.params), kKorvoOK);
	InitHooks(&gHooks);
	EXPECT_EQ(calls, 1);
	EXPECT_TRUE(Snapshot(vop) == before);
	const Planes expected =
	        Expected(vop, vop->mbCount, [](const MacroBlock&, const Block& b, uint8_t* d, uint32_t s) {
		        SetClamped(b.recon, d, s);
	        });
	EXPECT_EQ(VopToPlanes(c.params), kKorvoOK);
	EXPECT_TRUE(Snapshot(vop) == expected);
}

TEST(VopToPlanes, PVopWritesEachMacroBlockKind)
{
	std::mt19937 rng(11);
	Context c(100, 60);  // 7x4 macroblocks, cropped edges
	Vop* vop = c.vop();
	for (int trial = 0; trial < 20; ++trial) {
		Randomize(vop, rng);
		vop->codingType = kCodingTypeP;
		vop->coded = 1;
		for (uint32_t i = 0; i < vop->mbCount; ++i) {
			MacroBlock* mb = vop->mbs[i];
			mb->mbType = uint8_t(1 + rng() % 3);  // intra, inter, four-vector (as zero-vector inter)
			mb->codedMb = rng() % 4 != 0;
			mb->mv = rng() % 2 ? Motion{0, 0} : Motion{int16_t(int(rng() % 64) - 32), int16_t(rng() % 2)};
			for (Block& b : mb->blocks)
				b.codedBlock = rng() % 2;
		}
		// An early end of the data: the macroblocks from mbsRead on keep the previous picture,
		// intra ones with stale recon included.
		const uint32_t read = trial % 3 == 0 ? vop->mbCount - 5 : vop->mbCount;
		vop->mbsRead = int16_t(read);
		const Planes expected =
		        Expected(vop, read, [](const MacroBlock& mb, const Block& b, uint8_t* d, uint32_t s) {
			        const bool moved = mb.mv.x != 0 || mb.mv.y != 0;
			        for (int i = 0; i < 64; ++i) {
				        uint8_t& px = d[(i / 8) * s + i % 8];
				        if (mb.mbType == kMbTypeIntra)
					        px = Clamp255(b.recon[i]);
				        else if (!mb.codedMb)
					        continue;
				        else if (moved)
					        px = Clamp255(b.pred[i] + (b.codedBlock ? b.recon[i] : 0));
				        else if (b.codedBlock)
					        px = Clamp255(px + b.recon[i]);
			        }
		        });
		ASSERT_EQ(VopToPlanes(c.params), kKorvoOK);
		ASSERT_TRUE(Snapshot(vop) == expected) << "trial " << trial;
	}
}

TEST(VopToPlanes, UncodedVopChangesNothing)
{
	std::mt19937 rng(12);
	Context c(32, 32);
	Vop* vop = c.vop();
	for (uint8_t type : {kCodingTypeI, kCodingTypeP}) {
		Randomize(vop, rng);
		for (uint32_t i = 0; i < vop->mbCount; ++i)
			vop->mbs[i]->mbType = kMbTypeIntra;
		vop->codingType = type;
		vop->coded = 0;
		const Planes before = Snapshot(vop);
		EXPECT_EQ(VopToPlanes(c.params), kKorvoOK);
		EXPECT_TRUE(Snapshot(vop) == before);
	}
}

}  // namespace
