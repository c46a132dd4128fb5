// RGB with contrast, brightness, saturation and hue, for ps_3_0 (with PS_3_0 defined) and
// ps_2_0.
// c0-c3: colour matrix F; c4-c6: contrast gain rows diag(k, k, k); c8.x: contrast offset;
// c9.x: brightness offset; sampler s0: the picture.
#ifdef PS_3_0
ps_3_0
dcl_texcoord0 v0.xy
#define UV v0
#else
ps_2_0
dcl t0.xy
#define UV t0
#endif
def c7, 1, 0, 0, 0
dcl_2d s0
texld r0, UV, s0
dp4 r4.x, c0, r0
dp4 r4.y, c1, r0
dp4 r4.z, c2, r0
dp4 r4.w, c3, r0
add r4.xyz, r4, c9.x
dp4 r5.x, c4, r4
dp4 r5.y, c5, r4
dp4 r5.z, c6, r4
add_sat r5.xyz, r5, c8.x
mov r5.w, c7.x
mov oC0, r5
