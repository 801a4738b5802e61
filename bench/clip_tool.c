/* Helper of compare-vpx.sh: `clip_tool make W H FRAMES OUT.y4m` writes a 4:2:0 clip with a panning
 * texture, a moving object and noise; `clip_tool psnr A.y4m B.y4m` prints the mean PSNR-Y. */
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static uint32_t Hash(uint32_t x)
{
	x ^= x >> 16;
	x *= 0x7feb352du;
	x ^= x >> 15;
	x *= 0x846ca68bu;
	return x ^ (x >> 16);
}

static int Make(int w, int h, int frames, const char* path)
{
	FILE* f = fopen(path, "wb");
	if (!f)
		return 1;
	fprintf(f, "YUV4MPEG2 W%d H%d F30:1 Ip A1:1 C420jpeg\n", w, h);
	uint8_t* frame = malloc((size_t)w * h * 3 / 2);
	for (int t = 0; t < frames; t++) {
		for (int y = 0; y < h; y++)
			for (int x = 0; x < w; x++) {
				const double u = x + 2.5 * t, v = y + 1.25 * t;
				double s = 128 + 45 * sin(u * 0.041) * cos(v * 0.029) + 30 * sin((u + 2 * v) * 0.013);
				s += 20 * sin(u * 0.31) * sin(v * 0.23);
				const int ox = (7 * t) % w, oy = h / 3 + (3 * t) % (h / 3);
				if (x >= ox && x < ox + w / 8 && y >= oy && y < oy + h / 6)
					s = 200 + 30 * sin((x - ox) * 0.5);
				s += (int)(Hash((uint32_t)(x * 7919 + y * 104729 + t * 1299709)) % 7) - 3;
				frame[(size_t)y * w + x] = (uint8_t)(s < 16 ? 16 : s > 235 ? 235 : s);
			}
		uint8_t* c = frame + (size_t)w * h;
		for (int p = 0; p < 2; p++)
			for (int y = 0; y < h / 2; y++)
				for (int x = 0; x < w / 2; x++)
					*c++ = (uint8_t)(128 + 25 * sin((x + t + 40 * p) * 0.03) * cos(y * 0.04));
		fputs("FRAME\n", f);
		fwrite(frame, 1, (size_t)w * h * 3 / 2, f);
	}
	free(frame);
	return fclose(f) != 0;
}

/* Reads the header of a 4:2:0 Y4M file; returns the frame size or 0. */
static size_t Header(FILE* f, int* w, int* h)
{
	char line[512];
	if (!fgets(line, sizeof line, f) || strncmp(line, "YUV4MPEG2", 9) != 0)
		return 0;
	const char* W = strstr(line, " W");
	const char* H = strstr(line, " H");
	if (!W || !H)
		return 0;
	*w = atoi(W + 2), *h = atoi(H + 2);
	return (size_t)*w * *h + 2 * (size_t)((*w + 1) / 2) * ((*h + 1) / 2);
}

static int Psnr(const char* a, const char* b)
{
	FILE* fa = fopen(a, "rb");
	FILE* fb = fopen(b, "rb");
	int wa, ha, wb, hb;
	if (!fa || !fb)
		return 1;
	const size_t na = Header(fa, &wa, &ha), nb = Header(fb, &wb, &hb);
	if (!na || na != nb || wa != wb || ha != hb)
		return 1;
	uint8_t* pa = malloc(na);
	uint8_t* pb = malloc(nb);
	char marker[64];
	double sum = 0;
	int frames = 0;
	while (fgets(marker, sizeof marker, fa) && fread(pa, 1, na, fa) == na && fgets(marker, sizeof marker, fb) &&
	       fread(pb, 1, nb, fb) == nb) {
		double se = 0;
		for (size_t i = 0; i < (size_t)wa * ha; i++)
			se += (double)(pa[i] - pb[i]) * (pa[i] - pb[i]);
		sum += se ? 10 * log10(255.0 * 255.0 * wa * ha / se) : 99;
		frames++;
	}
	printf("%.2f\n", frames ? sum / frames : 0);
	return frames == 0;
}

int main(int argc, char** argv)
{
	if (argc == 6 && !strcmp(argv[1], "make"))
		return Make(atoi(argv[2]), atoi(argv[3]), atoi(argv[4]), argv[5]);
	if (argc == 4 && !strcmp(argv[1], "psnr"))
		return Psnr(argv[2], argv[3]);
	fprintf(stderr, "usage: clip_tool make W H FRAMES OUT.y4m | clip_tool psnr A.y4m B.y4m\n");
	return 2;
}
