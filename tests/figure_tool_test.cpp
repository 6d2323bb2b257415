// tovmir-tool figure, plot and map: the call listing, the argument checks, pixels of the PNG
// pictures they write, and the maps as outside readers (GDAL, gpsbabel) read them.
#include <cairo.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>

#include "events/log_reader.h"
#include "events/track.h"
#include "receiver/receiver.h"
#include "render/cairo_painter.h"
#include "render/chart.h"
#include "render/level_scale.h"
#include "render/map_png.h"
#include "render/plot_png.h"
#include "tests/support/process.h"

namespace tovmir::test {
namespace {

ProcessResult Figure(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {TOVMIR_TOOL, "figure"};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProcess(argv);
}

TEST(FigureTool, ListsTheCallsInPaintOrder) {
  const ProcessResult r = Figure({"400", "180", "13", "0"});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 19u);
  EXPECT_EQ(lines[0], "polygon black 10,10 160,10 90,90 90,170 80,170 80,90");
  EXPECT_EQ(lines[1], "polygon cutout 33,20 80,20 80,74");
  EXPECT_EQ(lines[2], "polygon cutout 136,20 90,20 90,74");
  EXPECT_EQ(lines[3], "rect black 100,160,110,170");
  EXPECT_EQ(lines[15], "rect black 340,40,350,170");
  EXPECT_EQ(lines[16], "rect face 360,30,370,170");
  EXPECT_EQ(lines[17], "rect face 380,20,390,170");
  EXPECT_EQ(lines[18], "text 5,180,400,198");

  const auto hollow = Lines(Figure({"100", "10", "0", "1"}).out);
  ASSERT_EQ(hollow.size(), 17u);  // no room for the cut-outs
  EXPECT_EQ(hollow[0].substr(0, 13), "polygon face ");
}

TEST(FigureTool, RejectsBadArguments) {
  const std::vector<std::vector<std::string>> bad = {
      {},
      {"400"},
      {"400", "180"},
      {"400", "180", "13"},
      {"400", "180", "13", "0", "9"},
      {"4OO", "180", "13", "0"},
      {"-1", "180", "13", "0"},
      {"400", "0", "13", "0"},
      {"32768", "180", "13", "0"},
      {"400", "32768", "13", "0"},
      {"400", "180", "16", "0"},
      {"400", "180", "-1", "0"},
      {"400", "180", "13", "2"},
      {"400", "180", "13", "0", "--png"},
      {"99999999999", "180", "13", "0"},
      {"400", "180", "13", "0", "--status", "\xF0\x9F\x93\xB6"},
      {"400", "180", "13", "0", "--png", ""},
      {"400", "180", "13", "0", "--png", "/nonexistent/dir/meter.png"},
      {"0", "180", "13", "0", "--png", "/tmp/never-written.png"},
  };
  for (const auto& args : bad) {
    const ProcessResult r = Figure(args);
    std::string joined;
    for (const auto& a : args) joined += a + " ";
    EXPECT_EQ(r.status, 2) << joined;
    EXPECT_FALSE(r.err.empty()) << joined;
  }
  EXPECT_NE(Figure({"0", "180", "13", "0", "--png", "/tmp/x.png"}).err.find("width 0"),
            std::string::npos);
  // A PNG that cannot be written says why.
  for (const auto& [path, why] :
       {std::pair{"/nonexistent/dir/meter.png", "No such file or directory"},
        std::pair{"/dev/full", "No space left on device"}})
    EXPECT_NE(Figure({"40", "20", "3", "0", "--png", path}).err.find(why), std::string::npos)
        << path;
  EXPECT_EQ(Figure({"0", "1", "0", "0"}).status, 0) << "a listing is fine at width 0";
}

class Png {
 public:
  explicit Png(const std::string& path)
      : s_(cairo_image_surface_create_from_png(path.c_str()), cairo_surface_destroy) {}
  bool ok() const { return cairo_surface_status(s_.get()) == CAIRO_STATUS_SUCCESS; }
  int width() const { return cairo_image_surface_get_width(s_.get()); }
  int height() const { return cairo_image_surface_get_height(s_.get()); }
  // 0x00RRGGBB
  unsigned At(int x, int y) const {
    const unsigned char* row =
        cairo_image_surface_get_data(s_.get()) + y * cairo_image_surface_get_stride(s_.get());
    return reinterpret_cast<const std::uint32_t*>(row)[x] & 0xFFFFFF;
  }

 private:
  std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)> s_;
};

constexpr unsigned kBlack = 0x000000, kFace = 0xC0C0C0;

std::string RenderPng(const std::string& name, const std::vector<std::string>& args) {
  const std::string path = TempFile(name, "");
  std::vector<std::string> all = args;
  all.push_back("--png");
  all.push_back(path);
  const ProcessResult r = Figure(all);
  EXPECT_EQ(r.status, 0) << r.err;
  return path;
}

TEST(FigureTool, PngShowsTheMeterAsTheWindowWould) {
  const std::string path = RenderPng("filled.png", {"400", "180", "13", "0"});
  Png png(path);
  ASSERT_TRUE(png.ok());
  EXPECT_EQ(png.width(), 400);
  EXPECT_EQ(png.height(), 200);

  EXPECT_EQ(png.At(2, 2), kFace) << "background";
  EXPECT_EQ(png.At(50, 15), kBlack) << "the funnel's top bar";
  EXPECT_EQ(png.At(85, 50), kBlack) << "the mast between the cut-outs";
  EXPECT_EQ(png.At(64, 38), kFace) << "inside the left cut-out";
  EXPECT_EQ(png.At(105, 38), kFace) << "inside the right cut-out";
  EXPECT_EQ(png.At(85, 150), kBlack) << "the mast below the funnel";

  EXPECT_EQ(png.At(105, 165), kBlack) << "bar 0 is filled";
  EXPECT_EQ(png.At(345, 100), kBlack) << "bar 12 is filled";
  EXPECT_EQ(png.At(365, 100), kFace) << "bar 13 is empty";
  for (auto [x, y] : {std::pair{380, 100}, {389, 100}, {385, 20}, {385, 169}})
    EXPECT_EQ(png.At(x, y), kBlack) << "outline of the empty bar 14 at " << x << "," << y;
  EXPECT_EQ(png.At(390, 100), kFace) << "right of bar 14 (its right edge is exclusive)";
  EXPECT_EQ(png.At(385, 170), kFace) << "below the bars";

  int dark = 0;
  for (int y = 180; y < 198; ++y)
    for (int x = 5; x < 200; ++x) dark += (png.At(x, y) & 0xFF) < 0x60;
  EXPECT_GT(dark, 100) << "the status text is drawn";
  unlink(path.c_str());
}

TEST(FigureTool, PngOfAHollowAntenna) {
  const std::string path =
      RenderPng("hollow.png", {"400", "180", "0", "1", "--status", "網番号:1234"});
  Png png(path);
  ASSERT_TRUE(png.ok());
  EXPECT_EQ(png.At(85, 150), kFace) << "inside the hollow mast";
  EXPECT_EQ(png.At(80, 150), kBlack) << "its left outline";
  EXPECT_EQ(png.At(90, 150), kBlack) << "its right outline, through the vertices' pixels";
  EXPECT_EQ(png.At(105, 165), kFace) << "level 0: bar 0 empty";
  EXPECT_EQ(png.At(100, 165), kBlack) << "but outlined";
  unlink(path.c_str());
}

// A monitor session's log: level 3, then 12 from 10 s, silent from 20 s to 25 s, then 7.
std::string SessionLog() {
  const char* lines[] = {
      R"({"time":"2026-12-09T10:00:00.000+09:00","event":"init","level":3,)"
      R"("antenna":"filled","net":"1234","receiving":true})",
      R"({"time":"2026-12-09T10:00:10.000+09:00","event":"byte","level":12,)"
      R"("antenna":"filled","net":"1234","receiving":true})",
      R"({"time":"2026-12-09T10:00:20.000+09:00","event":"tick","level":13,)"
      R"("antenna":"filled","net":"1234","receiving":false})",
      R"({"time":"2026-12-09T10:00:25.000+09:00","event":"byte","level":7,)"
      R"("antenna":"hollow","net":"5678","receiving":true})",
      R"({"time":"2026-12-09T10:00:30.000+09:00","event":"byte","level":7,)"
      R"("antenna":"hollow","net":"5678","receiving":true})",
  };
  std::string log;
  for (const char* l : lines) log += std::string(l) + "\n";
  return log;
}

// The client area as an RGB24 image, drawn by draw(cr).
template <class F>
std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)> Picture(int w, int h, F draw) {
  std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)> image(
      cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h), cairo_surface_destroy);
  cairo_t* cr = cairo_create(image.get());
  draw(cr);
  cairo_destroy(cr);
  cairo_surface_flush(image.get());
  return image;
}

// The Linux window lays the figure's pieces over its background itself: laid in order they
// must be, pixel for pixel, what DrawMeter draws (what the PNG shows), also where parts
// overlap in a small window, and after changes that keep some pieces and draw others again.
TEST(FigurePieces, LaidInOrderTheyAreTheMetersPicture) {
  const std::string net = std::string(kTextNetLabel) + "1234";
  struct Case {
    int width, meter_height, level;
    bool hollow;
    std::string status;
  };
  const Case cases[] = {
      {326, 201, 9, true, net},
      {326, 201, 10, true, net},
      {326, 201, 0, true, net},
      {326, 201, 15, false, kTextPowerOff},
      {326, 201, 15, false, kTextRestart},
      {520, 310, 4, false, kTextRestart},
      {60, 12, 7, false, net},
      {9, 1, 15, true, kTextPowerOff},
      {1, 1, 3, false, net},
      {0, 1, 3, false, net},
      {1200, 40, 15, false, net},
      {326, 201, 9, true, net},
  };
  FigurePieces pieces;  // one for all, as the window keeps it
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.meter_height << " level " << c.level
                                    << " hollow " << c.hollow);
    const int w = std::max(c.width, 1), h = c.meter_height + 20;
    const auto drawn = Picture(w, h, [&](cairo_t* cr) {
      DrawMeter(cr, c.width, c.meter_height, c.level, c.hollow, c.status);
    });
    const auto laid = Picture(w, h, [&](cairo_t* cr) {
      const Colour face = BrushColour(Brush::kFace);
      cairo_set_source_rgb(cr, face.red, face.green, face.blue);
      cairo_paint(cr);
      for (const FigurePieces::Piece& p :
           pieces.Paint(c.width, c.meter_height, c.level, c.hollow, c.status)) {
        if (!p.image) continue;
        cairo_set_source_surface(cr, p.image, p.x, p.y);
        cairo_paint(cr);
      }
    });
    const int stride = cairo_image_surface_get_stride(drawn.get());
    const unsigned char* a = cairo_image_surface_get_data(drawn.get());
    const unsigned char* b = cairo_image_surface_get_data(laid.get());
    int differ = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const auto pa = reinterpret_cast<const std::uint32_t*>(a + y * stride)[x] & 0xFFFFFF;
        const auto pb = reinterpret_cast<const std::uint32_t*>(b + y * stride)[x] & 0xFFFFFF;
        if (pa != pb && differ++ == 0)
          ADD_FAILURE() << "first difference at " << x << "," << y << ": " << std::hex << pa
                        << " drawn, " << pb << " laid";
      }
    EXPECT_EQ(differ, 0);
  }
}

TEST(FigurePieces, OnlyWhatIsNewIsDrawn) {
  FigurePieces pieces;
  const std::string net = std::string(kTextNetLabel) + "1234";
  std::vector<std::uint64_t> before;
  for (const auto& p : pieces.Paint(326, 201, 9, false, net)) before.push_back(p.serial);
  const auto& after = pieces.Paint(326, 201, 10, false, net);
  ASSERT_EQ(after.size(), before.size());
  std::vector<size_t> drawn;
  for (size_t i = 0; i < after.size(); ++i)
    if (after[i].serial != before[i]) drawn.push_back(i);
  // The antenna and its two cut-outs, then the bars: bar 9 (level 10's tenth) alone.
  EXPECT_EQ(drawn, std::vector<size_t>{3 + 9});
  std::vector<std::uint64_t> back;
  for (const auto& p : pieces.Paint(326, 201, 9, false, net)) back.push_back(p.serial);
  EXPECT_EQ(back, before) << "the level back where it was: the pieces it had";
}

TEST(PlotTool, StepsWhereTheLogStepsAndShadingWhereItWasSilent) {
  const std::string log = TempFile("session.jsonl", SessionLog());
  const std::string path = TempFile("plot.png", "");
  const ProcessResult r = RunProcess({TOVMIR_TOOL, "plot", log, "--png", path});
  ASSERT_EQ(r.status, 0) << r.err;
  Png png(path);
  ASSERT_TRUE(png.ok());
  ASSERT_EQ(png.width(), 800);
  ASSERT_EQ(png.height(), 300);
  const PlotLayout at = LayoutPlot(800, 300, 30);
  auto pixel = [&](double t, double level) {
    return png.At(static_cast<int>(at.XOf(t)), static_cast<int>(std::lround(at.YOf(level))));
  };
  EXPECT_EQ(pixel(5, 3), kPlotLine);  // level 3 for the first ten seconds
  EXPECT_EQ(pixel(5, 12), kPlotGround);
  EXPECT_EQ(pixel(15, 12), kPlotLine);  // then 12
  EXPECT_EQ(pixel(15, 3), kPlotGround);
  EXPECT_EQ(pixel(22.5, 8), kPlotSilence);  // silent from 20 s to 25 s
  EXPECT_EQ(pixel(22.5, 13), kPlotLine);
  EXPECT_EQ(pixel(27.5, 7), kPlotLine);
  EXPECT_EQ(pixel(27.5, 2), kPlotGround);  // receiving again: no shade
  EXPECT_EQ(pixel(17.5, 2), kPlotGround);
}

// A line of a session log with `field` ("net":"-ABC", say) in place of the field of its
// name, or after the others.
std::string LineWith(const std::string& field) {
  std::vector<std::string> fields = {R"("time":"2026-12-09T10:00:00.000+09:00")",
                                     R"("event":"init")",
                                     R"("level":3)",
                                     R"("antenna":"filled")",
                                     R"("net":"1234")",
                                     R"("receiving":true)"};
  const std::string key = field.substr(0, field.find(':') + 1);
  const auto same = std::find_if(fields.begin(), fields.end(),
                                 [&](const std::string& f) { return f.rfind(key, 0) == 0; });
  if (same == fields.end())
    fields.push_back(field);
  else
    *same = field;
  std::string line;
  for (const std::string& f : fields) line += (line.empty() ? "{" : ",") + f;
  return line + "}\n";
}

TEST(PlotTool, LogsItCannotDraw) {
  const std::string png = TempFile("never.png", "");
  const struct {
    std::string log;
    std::string why;
  } bad[] = {
      {R"({"event":"init","level":13,"receiving":false})", "line 1: field \"time\" is missing"},
      {SessionLog() + "not json\n", "line 6: not an object"},
      {LineWith(R"("time":"yesterday")"), "field \"time\": \"yesterday\" is not an RFC 3339"},
      {LineWith(R"("time":"2026-02-31T10:00:00.000+09:00")"), "field \"time\""},  // no such day
      {LineWith(R"("time":"2026-12-09T-1:00:00.000+09:00")"), "field \"time\""},
      {LineWith(R"("time":"2026-12-09T10:00:00.000+99:99")"), "field \"time\""},
      {LineWith(R"("time":"2026-12-09T10:00:0x.000+09:00")"), "field \"time\""},
      {LineWith(R"("level":16)"), "field \"level\": 16 is not a whole number from 0 to 15"},
      {LineWith(R"("level":1.0)"), "field \"level\": 1.0"},
      {LineWith(R"("level":-1)"), "field \"level\": -1"},
      {LineWith(R"("net":"-ABC")"), "field \"net\": \"-ABC\" is not four hexadecimal digits"},
      {LineWith(R"("net":"12345")"), "field \"net\""},
      {LineWith(R"("antenna":"maybe")"), "field \"antenna\""},
      {LineWith(R"("receiving":1)"), "field \"receiving\": 1 is not true or false"},
      {LineWith(R"("elapsed":-2)"), "field \"elapsed\""},
      // No time of a session, nor a sum that overflows: refused, not drawn as garbage.
      {LineWith(R"("elapsed":1000000000.001)"),
       "field \"elapsed\": 1000000000.001 is not a number of seconds from 0 to 1000000000"},
      {LineWith("\"elapsed\":1" + std::string(400, '0')),
       "field \"elapsed\": 1" + std::string(39, '0') + "... is not"},
      {LineWith(R"("event":"reboot")"), "field \"event\""},
      {LineWith(R"("level":3,"level":4)"), "the key \"level\" given twice"},
      // What comes from the log is shown escaped and cut short.
      {LineWith("\"antenna\":\"\x7f\\u001b\""), R"(field "antenna": "\u007f\u001b" is not)"},
      {LineWith(R"("antenna":"fill\uzzzzed")"), R"(a \u escape without four hexadecimal digits)"},
      {LineWith(R"("antenna":"\u-001")"), R"(a \u escape without four hexadecimal digits)"},
      {LineWith(R"("\u001b)" + std::string(60, 'k') + R"(":1,"\u001b)" + std::string(60, 'k') +
                R"(":1)"),
       R"(the key "\u001b)" + std::string(39, 'k') + R"("... given twice)"},
      {"\n", "no lines to draw"},
      // Positions, as monitor --gps writes them, and nothing else.
      {LineWith(R"("fix":"4d")"), R"(field "fix": "4d" is not "none", "2d" or "3d")"},
      {LineWith(R"("fix":"3d")"), R"(field "lat" is missing (a fix has a place and an age))"},
      {LineWith(R"("lat":35.0)"), R"(field "lat" without "fix")"},
      {LineWith(R"("fix":"none","lon":139.0)"), R"(field "lon" with no fix)"},
      {LineWith(R"("fix":"2d","lat":90.5,"lon":139.0,"fix_age":0.1)"),
       R"(field "lat": 90.5 is not a latitude)"},
      {LineWith(R"("fix":"2d","lat":35.0,"lon":-180.1,"fix_age":0.1)"), R"(field "lon")"},
      {LineWith(R"("fix":"2d","lat":35,"lon":139.0,"fix_age":0.1)"), R"(field "lat": 35 is)"},
      {LineWith(R"("fix":"3d","lat":35.0,"lon":139.0,"fix_age":0.1,"error":-1.0)"),
       R"(field "error")"},
      {LineWith(R"("fix":"3d","lat":35.0,"lon":139.0,"fix_age":0.1,"gps_time":"soon")"),
       R"(field "gps_time")"},
  };
  for (const auto& b : bad) {
    const ProcessResult r = RunProcess({TOVMIR_TOOL, "plot", "-", "--png", png}, b.log);
    EXPECT_EQ(r.status, 2) << b.log;
    EXPECT_NE(r.err.find(b.why), std::string::npos) << r.err;
  }
  // A log of two ports (monitor A B) is drawn one port at a time, as asked.
  const std::string two = LineWith(R"("port":"A")") + LineWith(R"("port":"B")");
  const ProcessResult mixed = RunProcess({TOVMIR_TOOL, "plot", "-", "--png", png}, two);
  EXPECT_EQ(mixed.status, 2);
  EXPECT_NE(mixed.err.find(R"(line 2: the log holds more than one port ("A" and "B"): choose one)"),
            std::string::npos)
      << mixed.err;
  EXPECT_EQ(RunProcess({TOVMIR_TOOL, "plot", "-", "--png", png, "--port", "B"}, two).status, 0);
  EXPECT_EQ(RunProcess({TOVMIR_TOOL, "plot", "-", "--png", png, "--port", "C"}, two).status, 2);
  for (const char* fine : {R"("time":"2024-02-29T23:59:60Z")", R"("net":null)", R"("elapsed":0.5)",
                           R"("elapsed":1000000000)", R"("event":"lost")"})
    EXPECT_EQ(RunProcess({TOVMIR_TOOL, "plot", "-", "--png", png}, LineWith(fine)).status, 0)
        << fine;
  EXPECT_EQ(RunProcess({TOVMIR_TOOL, "plot", "/nonexistent/log", "--png", png}).status, 1);
  EXPECT_EQ(
      RunProcess({TOVMIR_TOOL, "plot", "-", "--png", png, "--width", "10"}, SessionLog()).status,
      2);
  const ProcessResult full =
      RunProcess({TOVMIR_TOOL, "plot", "-", "--png", "/dev/full"}, SessionLog());
  EXPECT_EQ(full.status, 1);
  EXPECT_NE(full.err.find("No space left on device"), std::string::npos) << full.err;
}

// The computer's clock set back an hour at 20 s into the session (say, by NTP): drawn, not
// refused, the step marked and said; with monitor's own clock ("elapsed") or without it.
TEST(PlotTool, AClockSetBackIsMarkedOnTheTimeAxis) {
  for (const bool elapsed : {true, false}) {
    std::string log;
    for (const std::string& line : Lines(SessionLog())) {
      std::string l = line;
      const int at_s = std::stoi(l.substr(l.find(":00:") + 4, 2));
      if (at_s >= 20) l.replace(l.find("T10:"), 4, "T09:");
      if (elapsed) l.insert(l.find(",\"event\""), ",\"elapsed\":" + std::to_string(at_s));
      log += l + "\n";
    }
    const std::string path = TempFile("stepped.png", "");
    const ProcessResult r = RunProcess({TOVMIR_TOOL, "plot", "-", "--png", path}, log);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find(elapsed ? "line 3: the clock was set back by 1:00:00 (to 09:00:20)"
                                 : "line 3: the clock was set back by 0:59:50"),
              std::string::npos)
        << r.err;
    Png png(path);
    // With its own clock the session keeps its 30 s; without, the ten seconds before the
    // step are unknown and taken as none.
    const double step_at = elapsed ? 20 : 10;
    const PlotLayout at = LayoutPlot(800, 300, step_at + 10);
    const int step_x = static_cast<int>(std::lround(at.XOf(step_at)));
    EXPECT_EQ(png.At(step_x, static_cast<int>(at.YOf(1))), kPlotClockStep) << elapsed;
    EXPECT_EQ(png.At(static_cast<int>(at.XOf(5)), static_cast<int>(std::lround(at.YOf(3)))),
              kPlotLine);
  }
}

// The picture never goes over its own log, however the log is named; a picture that cannot
// be written whole leaves the file that was there as it was, and nothing beside it.
TEST(PlotTool, ThePictureNeverReplacesTheLogOrAFileByHalves) {
  const std::string log = TempFile("own.jsonl", SessionLog());
  const std::string link = TempFile("own-link.jsonl", "");
  unlink(link.c_str());
  ASSERT_EQ(symlink(log.c_str(), link.c_str()), 0);
  for (const auto& [in, out] : {std::pair{log, log}, std::pair{log, link}, std::pair{link, log}}) {
    const ProcessResult r = RunProcess({TOVMIR_TOOL, "plot", in, "--png", out});
    EXPECT_EQ(r.status, 2) << in << " " << out;
    EXPECT_NE(r.err.find("would be written over the log"), std::string::npos) << r.err;
  }
  const ProcessResult piped = RunProcess(
      {"/bin/sh", "-c", std::string("exec ") + TOVMIR_TOOL + " plot - --png " + log + " < " + log});
  EXPECT_EQ(piped.status, 2) << piped.err;
  EXPECT_EQ(RunProcess({"/bin/cat", log}).out, SessionLog());

  const std::string old = TempFile("old.png", "the picture that was there");
  const std::string dir = old.substr(0, old.rfind('/')), name = old.substr(dir.size() + 1);
  // Files beside it named after it: a temporary picture left behind.
  const auto beside = [&] {
    return RunProcess({"/bin/sh", "-c", "ls -A " + dir + " | grep -cF ." + name + "."}).out;
  };
  // Room for a few kilobytes only, and the signal that would end the writer ignored: the
  // write fails part way.
  const ProcessResult cut = RunProcess({"/bin/sh", "-c",
                                        "ulimit -f 4; trap '' XFSZ; exec " TOVMIR_TOOL " plot " +
                                            log + " --png " + old + " --width 4000 --height 2000"});
  EXPECT_EQ(cut.status, 1);
  EXPECT_NE(cut.err.find("File too large"), std::string::npos) << cut.err;
  EXPECT_EQ(RunProcess({"/bin/cat", old}).out, "the picture that was there");
  EXPECT_EQ(beside(), "0\n");
}

// A survey, as monitor --json --gps writes it: walking north a metre a second along
// 139.76 E, first without a fix, then at level 9, 3, silent, level 12 on another network;
// the fix lost once.
std::string SurveyLog() {
  std::string log;
  auto line = [&](int t, const char* event, int level, const char* net, bool receiving, bool fix) {
    char buf[512];
    std::snprintf(buf, sizeof buf,
                  R"({"time":"2026-12-09T10:00:%02d.000+09:00","elapsed":%d.000,"event":"%s",)"
                  R"("level":%d,"antenna":"filled","net":"%s","receiving":%s)",
                  t, t, event, level, net, receiving ? "true" : "false");
    log += buf;
    if (fix)
      std::snprintf(buf, sizeof buf,
                    R"(,"fix":"3d","lat":%.7f,"lon":139.7600000,"alt":40.0,"error":3.0,)"
                    R"("fix_age":0.200,"gps_time":"2026-12-09T01:00:%02d.000Z"})"
                    "\n",
                    35.68 + t * 0.000009, t);
    else
      std::snprintf(buf, sizeof buf,
                    R"(,"fix":"none"})"
                    "\n");
    log += buf;
  };
  line(0, "init", 13, "1234", false, false);
  for (int t = 1; t <= 5; ++t) line(t, "position", 9, "1234", true, true);
  for (int t = 6; t <= 9; ++t) line(t, t == 6 ? "byte" : "position", 3, "1234", true, true);
  line(10, "tick", 4, "1234", false, true);
  line(11, "position", 5, "1234", false, true);
  for (int t = 12; t <= 14; ++t) line(t, "position", 12, "5678", true, true);
  line(15, "position", 12, "5678", true, false);
  for (int t = 16; t <= 18; ++t) line(t, "position", 12, "5678", true, true);
  return log;
}

// The number ogrinfo counts in each layer of a file, by layer name.
std::map<std::string, int> Features(const std::string& path) {
  const ProcessResult r = RunProcess({"/usr/bin/ogrinfo", "-ro", "-al", "-so", path});
  EXPECT_EQ(r.status, 0) << r.err;
  std::map<std::string, int> counts;
  std::string layer;
  for (const std::string& l : Lines(r.out)) {
    if (l.rfind("Layer name: ", 0) == 0) layer = l.substr(12);
    if (l.rfind("Feature Count: ", 0) == 0) counts[layer] = std::stoi(l.substr(15));
  }
  return counts;
}

// Every format, read back by what GIS tools read them with: the stretches and marks the log
// implies (levels 9, 3, a silence, 12 on a new network, 12 again after the fix was lost; a
// mark where it went silent and one where the network changed), the points, the rows.
TEST(MapTool, EveryFormatHoldsWhatTheLogImplies) {
  if (access("/usr/bin/ogrinfo", X_OK) != 0 || access("/usr/bin/gpsbabel", X_OK) != 0)
    FAIL() << "ogrinfo (gdal-bin) and gpsbabel are needed: scripts/test.sh installs them";
  const std::string log = TempFile("survey.jsonl", SurveyLog());
  std::map<std::string, std::string> out;
  std::vector<std::string> argv = {TOVMIR_TOOL, "map", log};
  for (const char* kind : {"geojson", "gpx", "kml", "csv", "png"}) {
    out[kind] = TempFile(std::string("survey.") + kind, "");
    argv.insert(argv.end(), {std::string("--") + kind, out[kind]});
  }
  const ProcessResult r = RunProcess(argv);
  ASSERT_EQ(r.status, 0) << r.err;

  const auto geojson = Features(out["geojson"]);
  ASSERT_EQ(geojson.size(), 1u);
  EXPECT_EQ(geojson.begin()->second, 5 + 2) << "five stretches, two marks";
  const auto kml = Features(out["kml"]);
  ASSERT_EQ(kml.size(), 1u);
  EXPECT_EQ(kml.begin()->second, 5 + 2);
  const auto gpx = Features(out["gpx"]);
  EXPECT_EQ(gpx.at("tracks"), 1);
  EXPECT_EQ(gpx.at("track_points"), 9 + 3 + 3) << "where a level was read at a place";
  const std::string csv = TempFile("survey-babel.csv", "");
  EXPECT_EQ(RunProcess({"/usr/bin/gpsbabel", "-t", "-i", "gpx", "-f", out["gpx"], "-o", "unicsv",
                        "-F", csv})
                .status,
            0);
  EXPECT_EQ(Lines(RunProcess({"/bin/cat", csv}).out).size(), 1u + 15) << "a header, the points";
  const std::vector<std::string> rows = Lines(RunProcess({"/bin/cat", out["csv"]}).out);
  ASSERT_EQ(rows.size(), 1u + 19);
  EXPECT_EQ(rows[0], "time,latitude,longitude,fix,level,antenna,network,receiving");
  EXPECT_EQ(rows[1], "2026-12-09T01:00:00.000Z,,,none,13,filled,1234,false");
  EXPECT_EQ(rows[2], "2026-12-09T01:00:01.000Z,35.6800090,139.7600000,3d,9,filled,1234,true");
  const std::string geo = RunProcess({"/bin/cat", out["geojson"]}).out;
  EXPECT_NE(geo.find(R"("level":3,"antenna":"filled","net":"1234","receiving":true,)"
                     R"("start":"2026-12-09T01:00:06.000Z","end":"2026-12-09T01:00:09.000Z",)"
                     R"("stroke":")" +
                     HexColour(kLevelScale[3])),
            std::string::npos)
      << geo;

  // The picture: each stretch in its level's colour where it runs, north up.
  LogReader reader;
  for (const std::string& l : Lines(SurveyLog())) ASSERT_EQ(reader.Add(l), "");
  const LogSession session = reader.Session();
  const Track track = TrackOf(session);
  ASSERT_EQ(track.stretches.size(), 5u);
  const MapLayout at = LayoutMap(track, 800, 600);
  Png png(out["png"]);
  ASSERT_TRUE(png.ok());
  auto between = [&](double t) {  // on the way, a fraction past the point of second t
    const double lat = 35.68 + t * 0.000009;
    return png.At(static_cast<int>(std::lround(at.XOf(139.76))),
                  static_cast<int>(std::lround(at.YOf(lat))));
  };
  const auto rgb = [](Rgb c) { return static_cast<unsigned>((c.r << 16) | (c.g << 8) | c.b); };
  EXPECT_EQ(between(2.5), rgb(kLevelScale[9]));
  EXPECT_EQ(between(7.5), rgb(kLevelScale[3]));
  EXPECT_EQ(between(13.5), rgb(kLevelScale[12]));
  EXPECT_EQ(between(16.5), rgb(kLevelScale[12]));
  EXPECT_EQ(between(15), kChartGround) << "no way where the fix was lost";
  EXPECT_LT(at.YOf(35.68 + 18 * 0.000009), at.YOf(35.68)) << "north up";
}

TEST(MapTool, WhatItRefuses) {
  const std::string log = TempFile("refused.jsonl", SurveyLog());
  // Nothing asked for; the log itself as an output, under any name.
  EXPECT_EQ(RunProcess({TOVMIR_TOOL, "map", log}).status, 2);
  const ProcessResult over = RunProcess({TOVMIR_TOOL, "map", log, "--kml", log});
  EXPECT_EQ(over.status, 2);
  EXPECT_NE(over.err.find("--kml '" + log + "' would be written over the log"), std::string::npos)
      << over.err;
  // A log without a position is said so, not drawn as an empty map.
  const std::string png = TempFile("nowhere.png", "");
  const ProcessResult nowhere = RunProcess({TOVMIR_TOOL, "map", "-", "--png", png}, SessionLog());
  EXPECT_EQ(nowhere.status, 1);
  EXPECT_NE(nowhere.err.find("no position in its 5 lines: was monitor run with --gps"),
            std::string::npos)
      << nowhere.err;
  // A bad line, named with its field.
  const ProcessResult bad = RunProcess({TOVMIR_TOOL, "map", "-", "--csv", png},
                                       SurveyLog() + LineWith(R"("fix":"2d","lat":91.0)"));
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.err.find("<stdin>: line 20: field "), std::string::npos) << bad.err;
  const ProcessResult full = RunProcess({TOVMIR_TOOL, "map", log, "--geojson", "/dev/full"});
  EXPECT_EQ(full.status, 1);
  EXPECT_NE(full.err.find("No space left on device"), std::string::npos) << full.err;
}

}  // namespace
}  // namespace tovmir::test
