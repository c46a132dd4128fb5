#include "fuzz_inputs.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <utility>

namespace {

// No plane gets more memory than this; a stride that would need more is made plain.
constexpr int64_t max_plane_bytes = 48ll << 20;

int64_t plane_bytes(int64_t row, int64_t rows, int64_t stride)
{
    const int64_t step = stride < 0 ? -stride : stride;
    return (rows - 1) * step + row;
}

int choose_stride(fuzz_random& random, int row, int rows)
{
    int64_t stride = row;
    switch (random.below(10)) {
    case 0:
    case 1:
    case 2:
    case 3:
        break; // packed
    case 4:
        stride = row + random.between(1, 64); // padded, any amount
        break;
    case 5:
        stride = (row + 63) / 64 * 64; // aligned as FFmpeg does
        break;
    case 6:
        stride = random.between(0, row > 1 ? row - 1 : 0); // rows overlap
        break;
    case 7:
        stride = -(row + random.between(0, 16)); // bottom-up
        break;
    case 8:
        stride = -random.between(0, row); // bottom-up and overlapping
        break;
    default:
        stride = random.percent(50) ? 2ll * row : row + 4096; // far apart
        break;
    }
    if (plane_bytes(row, rows, stride) > max_plane_bytes)
        stride = row;
    return static_cast<int>(stride);
}

} // namespace

void make_software_planes(fuzz_random& random, int width, int height, AVFrame& frame,
                          software_planes& planes, std::string& text)
{
    char line[160];
    for (int i = 0; i < 3; ++i) {
        const int row = i == 0 ? width : (width + 1) / 2;
        const int rows = i == 0 ? height : (height + 1) / 2;
        const int stride = choose_stride(random, row, rows);
        frame.linesize[i] = stride;
        // A missing plane makes the scaler refuse the frame, which is then drawn at its own
        // size: a rebuild there and back, so it is rare.
        if (random.below(1000) < 3) {
            frame.data[i] = nullptr;
            planes.buffers[i] = guarded_buffer();
            std::snprintf(line, sizeof(line), " p%d:null/%d", i, stride);
            text += line;
            continue;
        }
        const int64_t bytes = plane_bytes(row, rows, stride);
        planes.buffers[i] = guarded_buffer(static_cast<size_t>(bytes));
        uint8_t* base = planes.buffers[i].data();
        if (base)
            std::memset(base, static_cast<int>(random.below(256)), static_cast<size_t>(bytes));
        const int64_t step = stride < 0 ? -static_cast<int64_t>(stride) : stride;
        frame.data[i] = base && stride < 0 ? base + (rows - 1) * step : base;
        std::snprintf(line, sizeof(line), " p%d:%lld/%d", i, static_cast<long long>(bytes), stride);
        text += line;
    }
}

void picture_size(fuzz_random& random, int& width, int& height)
{
    const uint32_t kind = random.below(100);
    if (kind < 6) {
        // One-pixel sides leave a chroma plane without width or height.
        width = static_cast<int>(random.between(1, 17));
        height = static_cast<int>(random.between(1, 17));
    } else if (kind < 66) {
        width = static_cast<int>(random.between(2, 800));
        height = static_cast<int>(random.between(2, 600));
    } else if (kind < 92) {
        static const int sizes[][2] = {{352, 288}, {640, 480}, {704, 576},   {1280, 720},
                                       {320, 240}, {641, 479}, {1920, 1080}, {2, 1080}};
        const auto* size = sizes[random.below(8)];
        width = size[0];
        height = size[1];
    } else {
        width = static_cast<int>(random.between(2, 4096));
        height = static_cast<int>(random.between(2, 2304));
    }
}

void hostile_size(fuzz_random& random, int& width, int& height)
{
    auto one = [&random]() -> int {
        switch (random.below(8)) {
        case 0:
            return 0;
        case 1:
            return -1;
        case 2:
            return static_cast<int>(-random.between(2, 100000));
        case 3:
            return INT_MIN;
        case 4:
            return INT_MAX;
        case 5:
            return static_cast<int>(random.between(8193, 1 << 20));
        case 6:
            return 65536;
        default:
            return static_cast<int>(random.between(1, 2000));
        }
    };
    width = one();
    height = one();
}

void window_size(fuzz_random& random, int& width, int& height)
{
    const uint32_t kind = random.below(100);
    if (kind < 2) {
        width = random.percent(50) ? 0 : static_cast<int>(random.between(1, 50));
        height = random.percent(50) ? 0 : static_cast<int>(random.between(1, 50));
    } else if (kind < 6) {
        width = static_cast<int>(random.between(1, 64));
        height = static_cast<int>(random.between(1, 64));
    } else if (kind < 98) {
        width = static_cast<int>(random.between(64, 1280));
        height = static_cast<int>(random.between(48, 800));
    } else if (kind < 99) {
        width = static_cast<int>(random.between(1900, 4096));
        height = static_cast<int>(random.between(1000, 2200));
    } else {
        width = random.pick({8192, 8193, 9000, 640});
        height = random.pick({8192, 8193, 480, 20000});
    }
}

namespace {

uint32_t coordinate(fuzz_random& random)
{
    switch (random.below(10)) {
    case 0:
        return 0;
    case 1:
        return UINT32_MAX;
    case 2:
        return random.bits32(); // far outside
    case 3:
        return static_cast<uint32_t>(random.between(10000, 40000));
    default:
        return static_cast<uint32_t>(random.between(0, 10000));
    }
}

uint32_t reference(fuzz_random& random)
{
    switch (random.below(8)) {
    case 0:
    case 1:
    case 2:
        return 0; // the renderer's default
    case 3:
        return 1;
    case 4:
        return UINT32_MAX;
    case 5:
        return random.bits32();
    default:
        return random.pick<uint32_t>({10000, 1920, 1080, 352, 7});
    }
}

uint32_t font_size(fuzz_random& random)
{
    switch (random.below(10)) {
    case 0:
        return 0;
    case 1:
        return random.pick<uint32_t>({1000, 65535, 100000, 0x7FFFFFFFu, UINT32_MAX});
    case 2:
        return random.bits32();
    default:
        return static_cast<uint32_t>(random.between(1, 72));
    }
}

uint32_t small_or_any(fuzz_random& random, uint32_t small)
{
    if (random.percent(85))
        return random.below(small);
    return random.percent(50) ? UINT32_MAX : random.bits32();
}

std::string overlay_text(fuzz_random& random)
{
    static const char* const samples[] = {
        "cam 1", "%s%n%p%x", "\xd6\xd0\xce\xc4 \xb2\xe2\xca\xd4", "A", "line\nbreak\ttab", "    "};
    switch (random.below(6)) {
    case 0:
        return "";
    case 1:
        return samples[random.below(6)];
    case 2: {
        std::string long_text(static_cast<size_t>(random.between(100, 1000)), 'W');
        return long_text;
    }
    default: {
        std::string text(static_cast<size_t>(random.between(1, 24)), ' ');
        for (char& c : text)
            c = static_cast<char>(random.between(1, 255));
        return text;
    }
    }
}

} // namespace

std::list<overlay_group> make_overlays(fuzz_random& random, size_t& points)
{
    std::list<overlay_group> groups;
    points = 0;
    const size_t budget = random.percent(10) ? 1000 : random.below(60);
    const uint32_t group_count = random.below(7);
    for (uint32_t g = 0; g < group_count; ++g) {
        overlay_group group;
        group.id = random.percent(90) ? static_cast<int32_t>(random.between(-1, 5))
                                      : static_cast<int32_t>(random.bits32());
        group.caller_data = static_cast<int64_t>(random.next());
        const uint32_t entry_count = random.below(9);
        for (uint32_t e = 0; e < entry_count; ++e) {
            overlay_entry entry;
            entry.kind = random.percent(90) ? random.below(2) : small_or_any(random, 4);
            size_t count = 0;
            if (points < budget) {
                const size_t left = budget - points;
                count = random.percent(15)
                            ? left
                            : random.below(static_cast<uint32_t>(left < 8 ? left + 1 : 8));
            }
            // Rectangles and two-point lines are the shapes with extra drawing.
            if (random.percent(25) && budget - points >= 5 && count < 4) {
                const uint32_t x0 = static_cast<uint32_t>(random.between(0, 9000));
                const uint32_t y0 = static_cast<uint32_t>(random.between(0, 9000));
                const uint32_t x1 = x0 + static_cast<uint32_t>(random.between(0, 3000));
                const uint32_t y1 = y0 + static_cast<uint32_t>(random.between(0, 3000));
                entry.points = {{x0, y0, 0, 0}, {x1, y0, 0, 0}, {x1, y1, 0, 0}, {x0, y1, 0, 0}};
                if (random.percent(50))
                    entry.points.push_back(entry.points[0]);
                count = entry.points.size();
            } else {
                for (size_t p = 0; p < count; ++p)
                    entry.points.push_back({coordinate(random), coordinate(random),
                                            reference(random), reference(random)});
            }
            points += count;
            entry.text = overlay_text(random);
            entry.font_size = font_size(random);
            entry.text_color = random.bits32();
            entry.line_width = random.percent(80) ? random.below(8) : random.bits32();
            entry.line_color = random.percent(25) ? 0x00FF0000u : random.bits32();
            entry.border = random.percent(50);
            entry.scale_to_reference = random.percent(40);
            entry.closed = random.percent(50);
            entry.direction_mark = small_or_any(random, 5);
            entry.highlight = random.percent(50);
            entry.inner_ellipses = random.percent(40);
            entry.ellipse_layout = small_or_any(random, 4);
            entry.h_align = small_or_any(random, 5);
            entry.v_align = small_or_any(random, 5);
            group.entries.push_back(entry);
        }
        groups.push_back(group);
    }
    return groups;
}

display_region make_region(fuzz_random& random)
{
    auto edge = [&random]() -> int32_t {
        switch (random.below(12)) {
        case 0:
            return 0;
        case 1:
            return 10000;
        case 2:
            return INT32_MIN;
        case 3:
            return INT32_MAX;
        case 4:
            return static_cast<int32_t>(random.between(-20000, -1));
        case 5:
            return static_cast<int32_t>(random.between(10001, 40000));
        default:
            return static_cast<int32_t>(random.between(0, 10000));
        }
    };
    display_region region = {};
    region.enabled = random.percent(70) ? 1 : random.pick<int32_t>({0, -1, INT32_MIN, 7});
    region.flag = static_cast<uint8_t>(random.below(256));
    region.left = edge();
    region.right = edge();
    region.top = edge();
    region.bottom = edge();
    switch (random.below(6)) {
    case 0:
        region.right = region.left; // no width
        break;
    case 1:
        region.bottom = region.top; // no height
        break;
    case 2:
        if (region.left < region.right) // reversed
            std::swap(region.left, region.right);
        break;
    default:
        break;
    }
    region.reserved1 = static_cast<int32_t>(random.bits32());
    region.reserved2 = static_cast<int32_t>(random.bits32());
    return region;
}

void make_adjust(fuzz_random& random, int values[4])
{
    for (int i = 0; i < 4; ++i) {
        switch (random.below(8)) {
        case 0:
            values[i] = static_cast<int>(random.between(0, 100));
            break;
        case 1:
            values[i] = random.pick({-1, 101, 0, 100, 50});
            break;
        case 2:
            values[i] = random.pick({INT_MIN, INT_MAX, INT_MIN + 1, INT_MAX - 1});
            break;
        case 3:
            values[i] = static_cast<int>(random.bits32());
            break;
        default:
            values[i] = static_cast<int>(random.between(-1000, 1000));
            break;
        }
    }
}

int make_colorspace(fuzz_random& random)
{
    if (random.percent(80))
        return static_cast<int>(random.between(0, 14));
    return static_cast<int>(random.bits32());
}
