#pragma once
// A gateway line on the web page and in the metrics: its tags and each cycle in the form the
// served line state takes, with the values scaled as they are published.

#include <vector>

#include <qarn/gateway/GatewayConfig.h>
#include <qarn/gateway/LineScan.h>
#include <qarn/web/LineState.h>

namespace qarn {

std::vector<web::TagInfo> webTags(const LineScan& scan, const GatewayLine& line);
// One cycle's results (scan.scan().results()).
web::CycleUpdate webUpdate(const LineScan& scan, const GatewayLine& line,
                           const std::vector<TagResult>& results, const CycleSummary& summary);

}  // namespace qarn
