// PSNR and SSIM of coded pictures against their source.
#include "measure.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "pixel_layout.h"

namespace {

double SquaredError(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b)
{
	double se = 0;
	for (size_t i = 0; i < a.size(); i++) {
		const double d = (double)a[i] - b[i];
		se += d * d;
	}
	return se;
}

double WindowSsim(const uint8_t* a, const uint8_t* b, uint32_t stride, uint32_t w, uint32_t h)
{
	constexpr double c1 = (0.01 * 255) * (0.01 * 255), c2 = (0.03 * 255) * (0.03 * 255);
	double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
	for (uint32_t y = 0; y < h; y++) {
		for (uint32_t x = 0; x < w; x++) {
			const double p = a[(size_t)y * stride + x], q = b[(size_t)y * stride + x];
			sa += p;
			sb += q;
			saa += p * p;
			sbb += q * q;
			sab += p * q;
		}
	}
	const double n = (double)w * h;
	const double ma = sa / n, mb = sb / n;
	const double va = saa / n - ma * ma, vb = sbb / n - mb * mb, cov = sab / n - ma * mb;
	return (2 * ma * mb + c1) * (2 * cov + c2) / ((ma * ma + mb * mb + c1) * (va + vb + c2));
}

}  // namespace

Planes PlanesOf(const uint8_t* frame, uint32_t width, uint32_t height, color_space space,
                uint32_t chromaRows)
{
	Planes p;
	p.width = width;
	p.height = height;
	const size_t luma = (size_t)width * height;
	if (space == B_YUV420) {
		p.chromaWidth = width / 2;
		p.chromaHeight = height / 2;
		const size_t chroma = (size_t)p.chromaWidth * p.chromaHeight;
		p.y.assign(frame, frame + luma);
		p.u.assign(frame + luma, frame + luma + chroma);
		p.v.assign(frame + luma + chroma, frame + luma + 2 * chroma);
		return p;
	}
	p.y.resize(luma);
	if (space != B_YCbCr422) {
		p.chromaWidth = width;
		p.chromaHeight = height;
		p.u.resize(p.y.size());
		p.v.resize(p.y.size());
		for (size_t i = 0; i < p.y.size(); i++) {
			const uint8_t* px = frame + 4 * i;
			ToYCbCr(px[2], px[1], px[0], &p.y[i], &p.u[i], &p.v[i]);
		}
		return p;
	}
	const size_t rowBytes = (size_t)(width + 1) / 2 * 4;
	p.chromaWidth = (width + 1) / 2;
	p.chromaHeight = (height + chromaRows - 1) / chromaRows;
	p.u.resize((size_t)p.chromaWidth * p.chromaHeight);
	p.v.resize(p.u.size());
	for (uint32_t y = 0; y < height; y++) {
		const uint8_t* row = frame + y * rowBytes;
		for (uint32_t x = 0; x < width; x++)
			p.y[(size_t)y * width + x] = row[2 * x];
		if (y % chromaRows)
			continue;
		const size_t at = (size_t)(y / chromaRows) * p.chromaWidth;
		for (uint32_t x = 0; x < p.chromaWidth; x++) {
			p.u[at + x] = row[4 * x + 1];
			p.v[at + x] = row[4 * x + 3];
		}
	}
	return p;
}

double PsnrOf(double meanSquaredError)
{
	return meanSquaredError <= 1e-10 ? 100.0 : 10.0 * std::log10(255.0 * 255.0 / meanSquaredError);
}

double Ssim(const uint8_t* a, const uint8_t* b, uint32_t width, uint32_t height)
{
	if (width < 8 || height < 8)
		return WindowSsim(a, b, width, width, height);
	double sum = 0;
	int64_t windows = 0;
	for (uint32_t y = 0; y + 8 <= height; y += 4) {
		for (uint32_t x = 0; x + 8 <= width; x += 4) {
			sum += WindowSsim(a + (size_t)y * width + x, b + (size_t)y * width + x, width, 8, 8);
			windows++;
		}
	}
	return sum / (double)windows;
}

void QualityMeter::Add(const Planes& source, const Planes& coded)
{
	const std::vector<uint8_t>* a[3] = {&source.y, &source.u, &source.v};
	const std::vector<uint8_t>* b[3] = {&coded.y, &coded.u, &coded.v};
	double frameError = 0, frameSamples = 0, ssimWeighted = 0;
	for (int p = 0; p < 3; p++) {
		const uint32_t w = p ? source.chromaWidth : source.width, h = p ? source.chromaHeight : source.height;
		const double se = SquaredError(*a[p], *b[p]), n = (double)a[p]->size();
		const double ssim = Ssim(a[p]->data(), b[p]->data(), w, h);
		fPsnrSum[p] += PsnrOf(se / n);
		fSquaredError[p] += se;
		fSamples[p] += n;
		fSsimSum[p] += ssim;
		frameError += se;
		frameSamples += n;
		ssimWeighted += ssim * n;
	}
	fAveragePsnrSum += PsnrOf(frameError / frameSamples);
	fSsimAllSum += ssimWeighted / frameSamples;
	fFrames++;
}

PlaneScore QualityMeter::Plane(int plane) const
{
	PlaneScore s;
	if (!fFrames)
		return s;
	s.psnrMean = fPsnrSum[plane] / fFrames;
	s.psnrGlobal = PsnrOf(fSquaredError[plane] / fSamples[plane]);
	s.ssim = fSsimSum[plane] / fFrames;
	return s;
}

double QualityMeter::PsnrAverage() const { return fFrames ? fAveragePsnrSum / fFrames : 0; }

double QualityMeter::PsnrGlobal() const
{
	const double samples = fSamples[0] + fSamples[1] + fSamples[2];
	return samples > 0 ? PsnrOf((fSquaredError[0] + fSquaredError[1] + fSquaredError[2]) / samples) : 0;
}

double QualityMeter::SsimAll() const { return fFrames ? fSsimAllSum / fFrames : 0; }

std::string QualityMeter::PsnrLine() const
{
	char text[160];
	snprintf(text, sizeof text, "PSNR Mean Y:%.3f U:%.3f V:%.3f Avg:%.3f Global:%.3f (%lld frames)",
	         Plane(0).psnrMean, Plane(1).psnrMean, Plane(2).psnrMean, PsnrAverage(), PsnrGlobal(),
	         (long long)fFrames);
	return text;
}

std::string QualityMeter::SsimLine() const
{
	const double all = SsimAll();
	char text[160];
	snprintf(text, sizeof text, "SSIM Mean Y:%.5f U:%.5f V:%.5f All:%.5f (%.3f dB)", Plane(0).ssim,
	         Plane(1).ssim, Plane(2).ssim, all, all < 1 ? -10.0 * std::log10(1.0 - all) : 100.0);
	return text;
}
