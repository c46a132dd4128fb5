// NV12 to RGB with contrast, brightness, saturation and hue. The Y plane is read through an R8
// view, the interleaved UV plane through an R8G8 view. The colour matrix folds the conversion,
// saturation and hue together; brightness is added before contrast scales each channel about
// the middle.

Texture2D YTexture : register(t0);
Texture2D UVTexture : register(t1);
SamplerState LinearSampler : register(s0);

cbuffer cbColorMatrix : register(b0)
{
    float4x4 colormatrix;
};

cbuffer cbImageChanges : register(b1)
{
    float4x4 contrast_matrix;
    float contrast;
    float bright;
};

float4 main(float4 position : SV_POSITION, float2 texcoord : TEXCOORD0,
            float4 color : COLOR0) : SV_TARGET
{
    float y = YTexture.Sample(LinearSampler, texcoord).r;
    float2 uv = UVTexture.Sample(LinearSampler, texcoord).rg;
    float4 c = float4(y - 0.0627451f, uv.x - 0.501961f, uv.y - 0.501961f, 1.0f);
    float4 p = mul(c, colormatrix);
    p.rgb += bright;
    float4 q = mul(p, contrast_matrix);
    q.rgb = saturate(q.rgb + contrast);
    return q;
}
