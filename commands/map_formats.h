// map_formats.h: a session's track (events/track.h) in the formats that maps and
// spreadsheets read: GeoJSON (RFC 7946), GPX 1.1, KML 2.2 and CSV; each returned whole, to be
// written whole. The colours are the level scale's (render/level_scale.h). Pure.
#pragma once

#include <string>

#include "events/log_reader.h"
#include "events/track.h"

namespace tovmir {

// One LineString Feature for each stretch (a Point for a stretch of one place), with its
// level (null where silent), antenna, network number, receiving, start, end and stroke
// colour; one Point Feature for each mark (its kind, time, level and network number).
std::string MapGeoJson(const LogSession& session, const Track& track);

// One track of the lines with a fix where the handset was heard, a new segment after a
// stretch without a fix, a silence or a lost port; each point with its height, time and,
// in the namespace kGpxNamespace under extensions, the level, antenna, network number.
inline constexpr const char* kGpxNamespace = "https://tovmir.org/xmlns/gpx/1";
std::string MapGpx(const LogSession& session, const std::string& name);

// A document of 16 styles, one a level, and silence's and the marks'; a Placemark for each
// stretch (a LineString, or a Point) and each mark.
std::string MapKml(const LogSession& session, const Track& track, const std::string& name);

// One row a log line: time, latitude, longitude, fix, level, antenna, network, receiving
// (the place empty without a fix).
std::string MapCsv(const LogSession& session);

}  // namespace tovmir
