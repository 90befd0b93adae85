#include "viewers/OVNCoreImageAdjust.h"

namespace {
std::shared_ptr<OVNCoreImageAdjust::Factory> &installedFactory()
{
    static std::shared_ptr<OVNCoreImageAdjust::Factory> factory;
    return factory;
}
} // namespace

OVNCoreImageAdjust::~OVNCoreImageAdjust() = default;
OVNCoreImageAdjust::Factory::~Factory() = default;

void OVNCoreImageAdjust::setFactory(std::shared_ptr<Factory> factory) { installedFactory() = std::move(factory); }

OVNCoreImageAdjust::Factory *OVNCoreImageAdjust::factory() { return installedFactory().get(); }
