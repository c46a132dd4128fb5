// Planar YUV 4:2:0 to RGB with contrast, brightness, saturation and hue, for ps_3_0 (with
// PS_3_0 defined) and ps_2_0.
// c0-c3: colour matrix F; c4-c6: contrast gain rows diag(k, k, k); c8.x: contrast offset;
// c9.x: brightness offset; samplers s0, s1, s2: the Y, U and V planes.
#ifdef PS_3_0
ps_3_0
dcl_texcoord0 v0.xy
#define UV v0
#else
ps_2_0
dcl t0.xy
#define UV t0
#endif
def c7, -0.0627451, -0.5019608, 1, 0
dcl_2d s0
dcl_2d s1
dcl_2d s2
texld r0, UV, s0
texld r1, UV, s1
texld r2, UV, s2
add r3.x, r0.x, c7.x
add r3.y, r1.x, c7.y
add r3.z, r2.x, c7.y
mov r3.w, c7.z
dp4 r4.x, c0, r3
dp4 r4.y, c1, r3
dp4 r4.z, c2, r3
dp4 r4.w, c3, r3
add r4.xyz, r4, c9.x
dp4 r5.x, c4, r4
dp4 r5.y, c5, r4
dp4 r5.z, c6, r4
add_sat r5.xyz, r5, c8.x
mov r5.w, c7.z
mov oC0, r5
