#!/bin/sh
# Speed against the VP8 real-time coder on one 1280x720 clip with motion and noise: mediaconv and
# vpxenc/vpxdec run alternately (one thread each), each at a setting near 36 dB PSNR-Y, and the two
# frames-per-second ratios (encode, decode to Y4M) are printed. Settings: KORVO_QUALITY (0..1) and
# VPX_KBPS (the defaults give about 36.5 dB for both), KORVO_TUNE (classic, the default here, or
# better: the tool's own default); ROUNDS runs of each (best time kept). Needs a Release build in
# build/ (make demo).
set -eu
cd "$(dirname "$0")/.."
MC=${MC:-build/tools/mediaconv}
KORVO_QUALITY=${KORVO_QUALITY:-0.1}
VPX_KBPS=${VPX_KBPS:-230}
KORVO_TUNE=${KORVO_TUNE:-classic}
FRAMES=${FRAMES:-60}
ROUNDS=${ROUNDS:-3}
[ -x "$MC" ] || { echo "no $MC: build the Release tree first (make demo)" >&2; exit 1; }
if ! command -v vpxenc >/dev/null || ! command -v vpxdec >/dev/null; then
	scripts/install-deps || { echo "cannot install vpx-tools (scripts/install-deps)" >&2; exit 1; }
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cc -O2 -o "$work/clip_tool" bench/clip_tool.c -lm
"$work/clip_tool" make 1280 720 "$FRAMES" "$work/clip.y4m"

now() { date +%s.%N; }
best() { awk -v a="$1" -v b="$2" 'BEGIN { print (a == "" || b < a) ? b : a }'; }
timed() { t0=$(now); "$@" >/dev/null 2>&1; t1=$(now); awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }'; }

ke= kd= ve= vd=
i=0
while [ "$i" -lt "$ROUNDS" ]; do
	ke=$(best "$ke" "$(timed "$MC" convert "$work/clip.y4m" "$work/k.mov" --quality "$KORVO_QUALITY" --tune "$KORVO_TUNE" --threads 1 --quiet)")
	ve=$(best "$ve" "$(timed vpxenc --rt --cpu-used=8 --threads=1 --end-usage=cbr --lag-in-frames=0 --target-bitrate="$VPX_KBPS" \
		-o "$work/v.ivf" "$work/clip.y4m" </dev/null)")
	kd=$(best "$kd" "$(timed "$MC" convert "$work/k.mov" "$work/k.y4m" --threads 1 --quiet)")
	vd=$(best "$vd" "$(timed vpxdec --threads=1 -o "$work/v.y4m" "$work/v.ivf")")
	i=$((i + 1))
done
vpxdec --threads=1 -o "$work/v.y4m" "$work/v.ivf" >/dev/null 2>&1
kp=$("$work/clip_tool" psnr "$work/clip.y4m" "$work/k.y4m")
vp=$("$work/clip_tool" psnr "$work/clip.y4m" "$work/v.y4m")
ks=$(wc -c <"$work/k.mov")
vs=$(wc -c <"$work/v.ivf")
awk -v f="$FRAMES" -v ke="$ke" -v kd="$kd" -v ve="$ve" -v vd="$vd" -v kp="$kp" -v vp="$vp" -v ks="$ks" -v vs="$vs" 'BEGIN {
	printf "korvo: PSNR-Y %s dB, %d bytes, encode %.1f fps, decode %.1f fps\n", kp, ks, f / ke, f / kd
	printf "vp8rt: PSNR-Y %s dB, %d bytes, encode %.1f fps, decode %.1f fps\n", vp, vs, f / ve, f / vd
	printf "encode ratio korvo/vp8: %.2f\ndecode ratio korvo/vp8: %.2f\n", ve / ke, vd / kd
}'
