// The frame layout: the KRV1 user-data block, the VOP header, and the frame writer and reader
// that wrap the macroblock layer.
#include <bit>

#include "bitstream_internal.h"
#include "frame_internal.h"
#include "korvo.h"
#include "syntax_internal.h"
namespace {

// The marker bits of the header are written as 1 and skipped unchecked by the reader.
void WriteMarker(BitStream* stream) { BitStream_WriteVLC(stream, 1, 1); }

}  // namespace

void Params_InitStreamWriter(KorvParams* params, BitStream* stream)
{
	// The context's own buffer is bounded by its allocation, whatever the caller put in streamSize;
	// a caller's buffer by streamSize.
	const uint32_t capacity =
	        params->stream == params->streamBuffer
	                ? uint32_t(Params_StreamBufferSize(params->vop->width, params->vop->height))
	                : params->streamSize;
	BitStream_InitWriter(stream, params->stream, capacity);
}

void Vop_WriteSTARTCODE(Vop*, BitStream* stream) { BitStream_WriteVLC(stream, kVopStartCode, 32); }

void Vop_WriteCODINGTYPE(Vop* vop, BitStream* stream)
{
	if (vop->codingType == kCodingTypeI)
		BitStream_WriteVLC(stream, 0, 2);
	if (vop->codingType == kCodingTypeP)
		BitStream_WriteVLC(stream, 1, 2);
}

void Vop_WriteTIMEBASE(Vop*, BitStream* stream) { BitStream_WriteVLC(stream, 0, 1); }

void Vop_WriteTIMEINCREMENT(Vop*, BitStream* stream) { BitStream_WriteVLC(stream, 0, 1); }

void Vop_WriteCODED(Vop* vop, BitStream* stream) { BitStream_WriteVLC(stream, vop->coded, 1); }

void Vop_WriteROUNDING(Vop* vop, BitStream* stream) { BitStream_WriteVLC(stream, vop->rounding, 1); }

void Vop_WriteDCVLCTHR(Vop*, BitStream* stream) { BitStream_WriteVLC(stream, 0, 3); }

void Vop_WriteQP(Vop* vop, BitStream* stream) { BitStream_WriteVLC(stream, vop->quant, 5); }

void Vop_WriteFCODE(Vop*, BitStream* stream) { BitStream_WriteVLC(stream, 1, 3); }

void UserData_WriteSTARTCODE(BitStream* stream) { BitStream_WriteVLC(stream, kUserDataStartCode, 32); }

void UserData_WriteKRV1(BitStream* stream, uint8_t deblock, uint8_t dering)
{
	UserData_WriteSTARTCODE(stream);
	BitStream_WriteVLC(stream, uint8_t(0x80 | (dering * 2) | deblock), 8);
}

void Vop_ReadCODINGTYPE(Vop* vop, BitStream* stream)
{
	const uint32_t type = BitStream_GetBits(stream, 2);
	// 10 and 11 leave the previous VOP's type in force.
	if (type == 0)
		vop->codingType = kCodingTypeI;
	if (type == 1)
		vop->codingType = kCodingTypeP;
}

void Vop_ReadTIMEBASE(Vop*, BitStream* stream)
{
	// 1 bits up to and including the first 0; the bytes past the chunk read as 0 and end it.
	for (;;) {
		const uint32_t ones = uint32_t(std::countl_one(BitStream_PeekBits(stream, 32)));
		BitStream_SeekBits(stream, ones);
		if (ones < 32)
			break;
	}
	BitStream_SeekBits(stream, 1);
}

void Vop_ReadTIMEINCREMENT(Vop*, BitStream* stream) { BitStream_SeekBits(stream, 1); }

void Vop_ReadCODED(Vop* vop, BitStream* stream) { vop->coded = uint8_t(BitStream_GetBits(stream, 1)); }

void Vop_ReadROUNDING(Vop* vop, BitStream* stream) { vop->rounding = uint8_t(BitStream_GetBits(stream, 1)); }

void Vop_ReadDCVLCTHR(Vop*, BitStream* stream) { BitStream_SeekBits(stream, 3); }

void Vop_ReadQP(Vop* vop, BitStream* stream) { vop->quant = uint8_t(BitStream_GetBits(stream, 5)); }

uint8_t Vop_ReadFCODE(Vop*, BitStream* stream) { return uint8_t(BitStream_GetBits(stream, 3)); }

void UserData_ReadKRV1(BitStream* stream, KorvParams* params)
{
	const uint32_t flags = BitStream_GetBits(stream, 8);
	if (!(flags & 0x80) || !params)
		return;
	params->deblock = flags & 1;
	params->dering = (flags >> 1) & 1;
}

void Vop_WriteHeader(Vop* vop, BitStream* stream)
{
	Vop_WriteSTARTCODE(vop, stream);
	Vop_WriteCODINGTYPE(vop, stream);
	Vop_WriteTIMEBASE(vop, stream);
	WriteMarker(stream);
	Vop_WriteTIMEINCREMENT(vop, stream);
	WriteMarker(stream);
	Vop_WriteCODED(vop, stream);
	if (vop->coded) {
		const bool predicted = vop->codingType == kCodingTypeP;
		if (predicted)
			Vop_WriteROUNDING(vop, stream);
		Vop_WriteDCVLCTHR(vop, stream);
		Vop_WriteQP(vop, stream);
		if (predicted)
			Vop_WriteFCODE(vop, stream);
	}
}

void Vop_WriteVOP(Vop* vop, BitStream* stream)
{
	Vop_WriteHeader(vop, stream);
	if (vop->coded)
		Vop_WriteMacroBlocks(vop, stream);
	BitStream_Flush(stream);
}

void Params_BeginFrameStream(KorvParams* params, BitStream* cursor)
{
	Params_InitStreamWriter(params, cursor);
	if (params->vop->codingType == kCodingTypeI)
		UserData_WriteKRV1(cursor, params->deblock, params->dering);
	Vop_WriteHeader(params->vop, cursor);
}

int16_t Params_EndFrameStream(KorvParams* params, BitStream* cursor)
{
	BitStream_Flush(cursor);
	// A frame that does not fit its buffer is a failure, not a truncated frame.
	if (cursor->overrun) {
		params->streamBytes = 0;
		return kKorvoEntryFailed;
	}
	params->streamBytes = int32_t((uint64_t{cursor->bitPos} + 7) / 8);
	return kKorvoOK;
}

int16_t VopToStream(KorvParams* params)
{
	BitStream cursor;
	Params_BeginFrameStream(params, &cursor);
	if (params->vop->coded)
		Vop_WriteMacroBlocks(params->vop, &cursor);
	return Params_EndFrameStream(params, &cursor);
}

int16_t Vop_ReadSTARTCODE(Vop* vop, BitStream* stream)
{
	const uint32_t first = BitStream_GetBits(stream, 32);
	if (first == kVopStartCode)
		return kKorvoOK;
	// One user-data block, or any one other word, is tolerated before the start code.
	if (first == kUserDataStartCode)
		UserData_ReadKRV1(stream, vop->params);
	return BitStream_GetBits(stream, 32) == kVopStartCode ? kKorvoOK : kKorvoNoStartCode;
}

int16_t ReadVopHeader(KorvParams* params)
{
	Vop* vop = params->vop;
	BitStream* reader = &params->reader;
	BitStream_InitReader(reader, params->stream, params->streamSize);
	Vop_Reset(vop);
	const int16_t status = Vop_ReadSTARTCODE(vop, reader);
	if (status != kKorvoOK)
		return status;
	Vop_ReadCODINGTYPE(vop, reader);
	Vop_ReadTIMEBASE(vop, reader);
	BitStream_SeekBits(reader, 1);
	Vop_ReadTIMEINCREMENT(vop, reader);
	BitStream_SeekBits(reader, 1);
	return kKorvoOK;
}

int16_t Vop_ReadVOP(Vop* vop, BitStream* stream)
{
	Vop_ReadCODED(vop, stream);
	if (!vop->coded)
		return kKorvoOK;
	const bool predicted = vop->codingType == kCodingTypeP;
	if (predicted)
		Vop_ReadROUNDING(vop, stream);
	Vop_ReadDCVLCTHR(vop, stream);
	Vop_ReadQP(vop, stream);
	if (predicted)
		Vop_ReadFCODE(vop, stream);
	Vop_ReadMacroBlocks(vop, stream);
	return kKorvoOK;
}

int16_t StreamToVop(KorvParams* params)
{
	const int16_t status = Vop_ReadVOP(params->vop, &params->reader);
	// Counted from the aligned base; never more than the chunk holds (a truncated frame reads 0s).
	const BitStream& reader = params->reader;
	const uint64_t chunkEnd =
	        uint64_t(reinterpret_cast<uintptr_t>(reader.dataEnd) - reinterpret_cast<uintptr_t>(reader.base));
	const uint64_t bytes = (uint64_t{reader.bitPos} + 7) / 8;
	params->streamBytes = int32_t(bytes < chunkEnd ? bytes : chunkEnd);
	return status;
}
