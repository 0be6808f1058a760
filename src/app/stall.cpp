#include "app/stall.h"

#include "text/date_time.h"

std::string durationText(std::int64_t seconds) {
  if (seconds < 0) seconds = 0;
  const std::int64_t minutes = seconds / 60;
  const std::int64_t hours = minutes / 60;
  const std::int64_t days = hours / 24;
  if (days > 0) return std::to_string(days) + " d " + std::to_string(hours % 24) + " h";
  if (hours > 0) return std::to_string(hours) + " h " + std::to_string(minutes % 60) + " min";
  if (minutes > 0) return std::to_string(minutes) + " min";
  return std::to_string(seconds) + " s";
}

std::string sinceText(std::int64_t since, std::int64_t now) {
  return "since " + timeToText(since, kTimeWithZoneFormat) + " (" + durationText(now - since) + ")";
}

bool waitedTooLong(std::int64_t since, std::int64_t now, int hours) {
  return hours > 0 && since >= 0 && now - since > static_cast<std::int64_t>(hours) * 3600;
}
