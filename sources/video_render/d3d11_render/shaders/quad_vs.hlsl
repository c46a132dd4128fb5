// Places the picture's rectangle: positions in pixels go through the view and the orthographic
// projection (row vectors, so p * view * projection); texture coordinate and colour pass through.

cbuffer VertexShaderConstants : register(b0)
{
    float4x4 view;
    float4x4 projection;
};

struct vertex_in {
    float3 position : POSITION;
    float2 texcoord : TEXCOORD0;
    float4 color : COLOR0;
};

struct vertex_out {
    float4 position : SV_POSITION;
    float2 texcoord : TEXCOORD0;
    float4 color : COLOR0;
};

vertex_out main(vertex_in input)
{
    vertex_out output;
    float4 p = mul(float4(input.position, 1.0f), view);
    output.position = mul(p, projection);
    output.texcoord = input.texcoord;
    output.color = input.color;
    return output;
}
