// The statistics as a terminal table and as CSV.
#include "analysis/StatsTable.h"

#include <cstdio>
#include <ctime>

#include "analysis/BusEvents.h"
#include "base/LocalTime.h"
#include "series/SeriesCsv.h"

namespace {

std::string LocalClock(int64_t us) {
  if (us == 0) return "-";
  const auto t = static_cast<std::time_t>(us / 1000000);
  std::tm tm{};
  char buf[32];
  if (!ToLocalTime(t, tm) || !std::strftime(buf, sizeof buf, "%H:%M:%S", &tm)) return "?";
  char ms[8];
  std::snprintf(ms, sizeof ms, ".%03d", static_cast<int>(us / 1000 % 1000));
  return std::string(buf) + ms;
}

bool Shown(const TDeviceStats::TRow& r) {
  return r.Messages != 0 || r.Calls != 0 || r.UnrecognisedBytes != 0 || r.Bytes != 0;
}

}  // namespace

std::string StatsDeviceName(int address) {
  if (address == 0) return "Centrála";
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02X", static_cast<unsigned>(address & 0xFF));
  return buf;
}

std::string StatsTableText(const TDeviceStats& stats, const std::vector<TDeviceStats::TRow>& rows,
                           bool all) {
  std::string text =
      "zařízení    zprávy    výzvy   zpr/s 10s  zpr/s prům  poprvé        naposledy     "
      "ticho      bajty %  nerozp. B\n";
  char line[256];
  for (const TDeviceStats::TRow& r : rows) {
    if (!all && !Shown(r)) continue;
    const std::string since = r.SinceLastUs < 0 ? "-" : DurationText(r.SinceLastUs);
    // The name is padded by hand: "Centrála" has a two-byte letter.
    std::string name = StatsDeviceName(r.Address);
    name += std::string(r.Address == 0 ? 2 : 8, ' ');
    std::snprintf(
        line, sizeof line, "%s%8llu %8llu %11.1f %11.2f  %-12s  %-12s  %-9s %8.2f %10llu%s\n",
        name.c_str(), static_cast<unsigned long long>(r.Messages),
        static_cast<unsigned long long>(r.Calls), r.RateNow, r.RateAverage,
        LocalClock(r.FirstUs).c_str(), LocalClock(r.LastUs).c_str(), since.c_str(), r.BytesShare,
        static_cast<unsigned long long>(r.UnrecognisedBytes), r.Silent ? "  mlčí" : "");
    text += line;
  }
  std::snprintf(line, sizeof line, "celkem: %llu položek, %llu B, nerozpoznáno %llu B\n",
                static_cast<unsigned long long>(stats.Items()),
                static_cast<unsigned long long>(stats.Bytes()),
                static_cast<unsigned long long>(stats.UnrecognisedBytes()));
  text += line;
  return text;
}

std::string StatsCsv(const std::vector<TDeviceStats::TRow>& rows, const TCsvFormat& format) {
  const char sep = format.Separator;
  std::string out;
  for (const char* h : {"zařízení", "zprávy", "výzvy", "zprávy_s_10s", "zprávy_s_průměr", "poprvé",
                        "poprvé_unix_s", "naposledy", "naposledy_unix_s", "od_poslední_s",
                        "podíl_bajtů_%", "bajty", "nerozpoznáno_B", "mlčí"}) {
    if (!out.empty()) out.push_back(sep);
    out += h;
  }
  out.push_back('\n');
  for (const TDeviceStats::TRow& r : rows) {
    out += StatsDeviceName(r.Address);
    out.push_back(sep);
    out += std::to_string(r.Messages);
    out.push_back(sep);
    out += std::to_string(r.Calls);
    out.push_back(sep);
    AppendCsvDecimal(out, r.RateNow, 2, format);
    out.push_back(sep);
    AppendCsvDecimal(out, r.RateAverage, 2, format);
    out.push_back(sep);
    // Never heard: empty cells, as the graph's unknown values.
    if (r.Messages != 0) {
      AppendCsvLocalTime(out, r.FirstUs / 1000000);
      out.push_back(sep);
      AppendCsvDecimal(out, static_cast<double>(r.FirstUs) / 1e6, 2, format);
      out.push_back(sep);
      AppendCsvLocalTime(out, r.LastUs / 1000000);
      out.push_back(sep);
      AppendCsvDecimal(out, static_cast<double>(r.LastUs) / 1e6, 2, format);
      out.push_back(sep);
      AppendCsvDecimal(out, static_cast<double>(r.SinceLastUs) / 1e6, 1, format);
    } else {
      out.append(4, sep);
    }
    out.push_back(sep);
    AppendCsvDecimal(out, r.BytesShare, 2, format);
    out.push_back(sep);
    out += std::to_string(r.Bytes);
    out.push_back(sep);
    out += std::to_string(r.UnrecognisedBytes);
    out.push_back(sep);
    if (r.Silent) out += "ano";
    out.push_back('\n');
  }
  return out;
}
