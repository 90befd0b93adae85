// The adjustment chain's preview: a 1600x1067 picture with its geometric stages cached, re-rendered
// to the screen's 8-bit picture after one colour slider move (what every slider step costs, as the
// preview worker runs it). Prints the median of 21 runs.
#include "viewers/OVNAdjustChain.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

int main()
{
    OVNLinearImage base = OVNLinearImage::allocate(1600, 1067);
    for (int y = 0; y < base.height; ++y)
        for (int x = 0; x < base.width; ++x) {
            float *p = base.row(y) + std::size_t(x) * 4;
            p[0] = float(x % 256) / 255;
            p[1] = float(y % 256) / 255;
            p[2] = float((x ^ y) % 256) / 255;
            p[3] = 1;
        }
    const auto source = std::make_shared<const OVNLinearImage>(std::move(base));
    OVNAdjustValues v;
    v.exposure = 1;
    v.gamma = 1.5;
    v.saturation = 150;
    v.contrast = 120;
    v.sharpness = 1;
    v.sepia = 0.3;
    v.whitePoint = std::array<double, 3>{1, 1, 1};
    OVNAdjustPreviewCache cache;
    std::vector<double> ms;
    for (int i = 0; i < 22; ++i) {
        v.saturation = 150 + i; // the slider moved
        QElapsedTimer t;
        t.start();
        const QImage shown = cache.renderImage(source, v, 1600, 1067);
        if (i > 0) // the first run warms up and fills the cache of the geometric stages
            ms.push_back(t.nsecsElapsed() / 1e6);
        if (shown.isNull())
            return 1;
    }
    std::sort(ms.begin(), ms.end());
    std::printf("preview 1600x1067 after one colour slider move: median %.1f ms (min %.1f, max %.1f)\n",
                ms[ms.size() / 2], ms.front(), ms.back());
    return 0;
}
