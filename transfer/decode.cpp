#include "transfer/decode.h"

namespace rendax {

bool InspectAudioFile(const std::string&, AudioFileInfo&, std::string& reason) {
  reason = "not yet";
  return false;
}

ConversionPlan PlanConversion(const AudioFileInfo&, bool, uint32_t, bool) {
  return {};
}

std::string DescribeRate(uint32_t rate) {
  return std::to_string(rate) + " Hz";
}

std::string DescribeChannels(uint32_t channels) {
  return channels == 1 ? "mono" : channels == 2 ? "stereo" : std::to_string(channels) + " channels";
}

std::unique_ptr<AudioSource> OpenPlainSource(const std::string&, const WavFormat&, uint32_t,
                                             uint32_t, std::string& reason) {
  reason = "not yet";
  return nullptr;
}

std::unique_ptr<AudioSource> OpenDecodedSource(const std::string&, const ConversionPlan&,
                                               std::string& reason) {
  reason = "not yet";
  return nullptr;
}

}  // namespace rendax
