// The series as CSV, one line a second.
#include "series/SeriesCsv.h"

#include <algorithm>
#include <charconv>
#include <ctime>

#include "base/LocalTime.h"
#include "base/SaveFile.h"

namespace {

void Number(std::string& out, uint64_t v) {
  char buf[24];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr);
}

// v hundredths (or tenths) as a fixed-point text, free of the C locale.
void Fixed(std::string& out, uint64_t v, int decimals, char point) {
  const uint64_t scale = decimals == 1 ? 10 : 100;
  Number(out, v / scale);
  out.push_back(point);
  const uint64_t frac = v % scale;
  if (decimals == 2 && frac < 10) out.push_back('0');
  Number(out, frac);
}

void PowerText(std::string& out, uint8_t state) {
  if (state == kPowerOn) {
    out += "zapnuto";
  } else if (state != kPowerNone) {
    static const char kHex[] = "0123456789ABCDEF";
    out.push_back('$');
    out.push_back(kHex[state >> 4]);
    out.push_back(kHex[state & 15]);
  }
}

void Rate(std::string& out, uint32_t total, uint16_t tenthMin, uint16_t tenthMax, char sep) {
  out.push_back(sep);
  Number(out, total);
  out.push_back(sep);
  Number(out, 10u * tenthMin);
  out.push_back(sep);
  Number(out, 10u * tenthMax);
}

void LocalTime(std::string& out, int64_t s) {
  const auto t = static_cast<std::time_t>(s);
  std::tm tm{};
  char buf[32];
  if (ToLocalTime(t, tm) && std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm)) out += buf;
}

}  // namespace

TCsvFormat CsvFormatFor(char decimalPoint) {
  // A field separator that is the decimal point would split every number.
  return {decimalPoint == ',' ? ';' : ',', decimalPoint};
}

std::string SeriesCsvHeader(int device, const TCsvFormat& format) {
  std::string h =
      "čas,unix_s,Ia_A,Ia_min_A,Ia_max_A,Im_A,zátěž_%,napájení,B_s,B_s_min,B_s_max,"
      "položky_s,položky_s_min,položky_s_max,nerozpoznáno_B_s,nerozpoznáno_B_s_min,"
      "nerozpoznáno_B_s_max";
  if (device >= 1 && device <= TSeriesStore::kDeviceCount) {
    static const char kHex[] = "0123456789ABCDEF";
    h += ",zařízení_";
    h.push_back(kHex[device >> 4]);
    h.push_back(kHex[device & 15]);
    h += "_zprávy_s";
  }
  if (format.Separator != ',') std::replace(h.begin(), h.end(), ',', format.Separator);
  h.push_back('\n');
  return h;
}

void AppendSeriesCsv(const TSeriesStore& store, int64_t fromSecond, int64_t endSecond, int device,
                     std::string& out, const TCsvFormat& format) {
  const char sep = format.Separator;
  const char point = format.Decimal;
  if (store.Empty()) return;
  const bool withDevice = device >= 1 && device <= TSeriesStore::kDeviceCount;
  fromSecond = std::max(fromSecond, store.FirstSecond());
  endSecond = std::min(endSecond, store.EndSecond());
  for (int64_t s = fromSecond; s < endSecond; ++s) {
    const TSecondPoint& p = store.At(s);
    LocalTime(out, s);
    out.push_back(sep);
    Number(out, static_cast<uint64_t>(s));
    if (!p.HasData()) {
      out.push_back('\n');
      continue;
    }
    out.push_back(sep);
    if (p.HasStatus()) {
      Fixed(out, p.IaLast, 1, point);
      out.push_back(sep);
      Fixed(out, p.IaMin, 1, point);
      out.push_back(sep);
      Fixed(out, p.IaMax, 1, point);
      out.push_back(sep);
      Number(out, p.Im);
      out.push_back(sep);
      // 100 x Ia / Im in hundredths of a percent, rounded: Ia in tenths of an A.
      if (p.Im != 0) Fixed(out, (uint64_t{p.IaLast} * 1000u * 2u / p.Im + 1u) / 2u, 2, point);
    } else {
      out.append(4, sep);
    }
    out.push_back(sep);
    PowerText(out, p.PowerOff != kPowerNone ? p.PowerOff : p.Power);
    Rate(out, p.Bytes, p.BytesMin, p.BytesMax, sep);
    Rate(out, p.Items, p.ItemsMin, p.ItemsMax, sep);
    Rate(out, p.BadBytes, p.BadMin, p.BadMax, sep);
    if (withDevice) {
      out.push_back(sep);
      Number(out, store.DeviceMessages(device, s));
    }
    out.push_back('\n');
  }
}

bool SaveSeriesCsv(const TSeriesStore& store, int64_t fromSecond, int64_t endSecond, int device,
                   const std::string& path, std::string& error, const TCsvFormat& format) {
  const int64_t from = store.Empty() ? 0 : std::max(fromSecond, store.FirstSecond());
  const int64_t end = store.Empty() ? 0 : std::min(endSecond, store.EndSecond());
  return SaveFileWhole(
      path,
      [&](TFileSink& file) {
        // Made in pieces of about an hour, so a day's export needs no day-sized text.
        std::string text = SeriesCsvHeader(device, format);
        for (int64_t s = from; s < end; s += 3600) {
          AppendSeriesCsv(store, s, std::min(end, s + 3600), device, text, format);
          if (!file.Write(text)) return false;
          text.clear();
        }
        return file.Write(text);
      },
      error);
}

void AppendCsvLocalTime(std::string& out, int64_t second) { LocalTime(out, second); }

void AppendCsvDecimal(std::string& out, double value, int decimals, const TCsvFormat& format) {
  // Whole hundredths or tenths, then as the series' own numbers.
  decimals = decimals <= 1 ? 1 : 2;
  const double scale = decimals == 1 ? 10.0 : 100.0;
  if (value < 0) {
    out.push_back('-');
    value = -value;
  }
  Fixed(out, static_cast<uint64_t>(value * scale + 0.5), decimals, format.Decimal);
}

bool SaveCsvText(const std::string& text, const std::string& path, std::string& error) {
  return SaveFileWhole(
      path, [&](TFileSink& file) { return file.Write(text); }, error);
}
