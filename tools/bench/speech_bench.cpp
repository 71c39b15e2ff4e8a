// speech_bench: how well each voice carries a reminder over the telephone, and what it costs
// (tools/bench-speech.sh runs it on a build without sanitizers). Prints table rows.
//   speech_bench [--voices V,V,...] [--rate WPM] [--seconds S] [--jobs N] [--texts N]
//                [--recogniser PROGRAM] [--out DIR]
// Each text is composed as the agent composes it (ComposeCallText), planned as the gateway plans
// it (EarText, then WithinSeconds to max_message_seconds) and spoken by the talmery-speak helper
// at the telephone rate, as in a call. The samples then go through G.711 mu-law and back, are
// resampled to 16 kHz (the recogniser's model is wideband) and handed to pocketsphinx. Per voice:
// the key facts heard (the minutes, the subject's and the place's words), the word error rate
// against the text as spoken, the helper's CPU per text (user + system, from its reaped rusage),
// the CPU per second of speech, and the length of the speech against the estimate that
// max_message_seconds is reckoned with (SpokenSeconds). The recogniser is a stand-in for a
// listener: the figures rank the voices, they are not what a person hears.
//
// The helpers are run one at a time (their CPU is read from the reaped children), the recogniser
// afterwards on --jobs threads. --out keeps the WAV files and a report per text.
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "agent/calls/call_text.h"
#include "gateway/audio.h"
#include "gateway/ear_text.h"
#include "gateway/speech.h"

namespace {

using talmery::Pcm;

// A reminder as Outlook gives it to the agent, with what a listener must take from its call:
// each fact is a word or a few words in a row, as they are said (lower case, numbers in words).
struct Reminder {
  const char* first;
  const char* last;
  int minutes;
  const char* subject;
  const char* location;
  const char* notes;
  std::vector<std::string> facts;  // besides the minutes, which are always one
};

// Reminders of the kinds calendars hold: meetings in rooms with codes, appointments at
// addresses with abbreviations, travel, online meetings whose notes are the invitation (join
// link, meeting ID, passcode, dial-in numbers), agendas, a text longer than a minute.
const std::vector<Reminder>& Reminders() {
  static const std::vector<Reminder> reminders = {
      {"Anna", "Berg", 15, "Budget review with the finance team", "Room B-204, 2nd floor",
       "Please bring the Q3 figures.", {"budget", "review", "finance", "two zero four"}},
      {"Tom", "Keller", 10, "Dentist appointment with Dr. Miller", "42 Elm St.", "",
       {"dentist", "doctor miller", "elm street"}},
      {"Maria", "Lopez", 30, "Weekly project sync", "Online meeting",
       "Hi all, agenda as usual.\n"
       "________________________________________________________________________________\n"
       "Video meeting\n"
       "Join on your computer, mobile app or room device\n"
       "Click here to join the meeting <https://meet.example.com/l/meetup-join/19%3ameeting_NzQ1>\n"
       "Meeting ID: 245 918 337 604\n"
       "Passcode: kT7xQp\n"
       "Or call in (audio only)\n"
       "+1 555-201-7788,,471902634#   United States, Chicago\n"
       "Phone Conference ID: 471 902 634#\n"
       "Find a local number | Reset PIN\n"
       "________________________________________________________________________________",
       {"weekly", "project", "sync", "online"}},
      {"David", "Chen", 60, "Flight LH-1234 to Frankfurt", "Terminal 2, Gate A3",
       "Check in closes at 9:30. Passport and boarding pass in the blue folder.",
       {"flight", "frankfurt", "terminal two", "gate"}},
      {"Linda", "Walsh", 20, "Parent teacher conference", "Lincoln Elementary School, Rm. 12",
       "Talk to Mrs. Parker about the reading group.", {"parent", "teacher", "conference", "lincoln", "school"}},
      {"Peter", "Novak", 45, "Oil change and tire rotation", "Smith Auto Repair, 118 Oak Ave.",
       "Ask about the brake noise.", {"oil", "change", "tire", "oak avenue"}},
      {"Sarah", "Kim", 15, "Lunch w/ Sarah & Paul", "Cafe Luna, 5th Ave.", "",
       {"lunch", "sarah", "paul", "luna", "fifth avenue"}},
      {"Mark", "Fischer", 10, "Quarterly sales meeting", "Conference room C-310",
       "Agenda:\n- Q4 results\n- New pricing\n- Hiring plan\n- Any other business",
       {"quarterly", "sales", "meeting", "three one zero"}},
      {"Julia", "Hoffmann", 30, "Annual check-up", "St. Mary's Hospital, Building 4",
       "Bring the insurance card. No food after 7:00 am.", {"annual", "check", "hospital", "building four"}},
      {"Robert", "Meyer", 5, "Call with the Chicago office", "",
       "Join the meeting now\n"
       "https://meet.example.com/j/88812345?pwd=QmFzZTY0IHBhc3N3b3Jk\n"
       "Meeting ID 888 1234 5678\n"
       "Passcode 449120\n"
       "One tap mobile +1 555-300-1000,,88812345678#",
       {"call", "chicago", "office"}},
      {"Emily", "Clark", 15, "Interview with a job candidate for the support team", "Room A-112",
       "CV attached. Panel: Emily, Jonas and Priya.", {"interview", "candidate", "support", "one one two"}},
      {"Michael", "Brown", 30, "Pick up the kids from soccer practice", "Riverside Park, north gate", "",
       {"pick up", "kids", "soccer", "riverside", "park"}},
      {"Sophie", "Wagner", 15, "Team retrospective", "Room D-401",
       "Bring your ideas on sticky notes. We start at 9:30 sharp!!", {"team", "retrospective", "four zero one"}},
      {"James", "Wilson", 60, "Yoga class", "Downtown Fitness, 3rd floor", "Mats are provided.",
       {"yoga", "class", "downtown", "fitness", "third floor"}},
      {"Laura", "Schmidt", 30, "Board meeting", "Headquarters, 500 Market St., 12th floor",
       "Agenda for today's board meeting. First, the minutes of the last meeting are read and approved. "
       "Second, the chief financial officer presents the results of the third quarter, with the "
       "forecast for the rest of the year and the budget for the next one. Third, the board votes on "
       "the new office in Denver, the lease of which runs for ten years from the first of March. "
       "Fourth, the head of sales reports on the two largest customers and the contracts that are "
       "due for renewal. Fifth, any other business. Lunch is served in the small hall after the "
       "meeting. Please send your questions to the secretary by Thursday noon so that they can be "
       "answered at the meeting, and bring the printed papers with you.",
       {"board", "meeting", "headquarters", "market street"}},
      {"Kevin", "Young", 120, "Pay the electricity bill", "", "Due today. Account number 7781 2290.",
       {"pay", "electricity", "bill"}},
      {"Nina", "Petrova", 10, "Webinar: Cloud security basics", "https://webinar.example.com/join/88812",
       "Slides will be shared afterwards.", {"webinar", "cloud", "security", "basics"}},
      {"Oliver", "Scott", 15, "Haircut", "Studio Nine, 27 King Rd.", "", {"haircut", "studio nine", "king road"}},
      {"Hannah", "Lee", 20, "First aid course", "Red Cross Center, Room 3",
       "Wear comfortable clothes. The course ends at 4:30 pm.", {"first aid", "course", "red cross", "room three"}},
      {"Daniel", "Garcia", 30, "Dinner with the Johnsons", "Luigi's Restaurant, 88 Harbor Dr.",
       "Table booked for 7:30 pm under Garcia.", {"dinner", "johnsons", "restaurant", "harbor drive"}},
  };
  return reminders;
}

// ---- Words as a recogniser writes them -------------------------------------------------------

std::string NumberWords(long n) {
  static const char* ones[] = {"zero", "one", "two", "three", "four", "five", "six", "seven", "eight", "nine",
                               "ten", "eleven", "twelve", "thirteen", "fourteen", "fifteen", "sixteen",
                               "seventeen", "eighteen", "nineteen"};
  static const char* tens[] = {"", "", "twenty", "thirty", "forty", "fifty", "sixty", "seventy", "eighty", "ninety"};
  if (n < 20) return ones[n];
  if (n < 100) return std::string(tens[n / 10]) + (n % 10 ? std::string(" ") + ones[n % 10] : "");
  if (n < 1000) return std::string(ones[n / 100]) + " hundred" + (n % 100 ? " " + NumberWords(n % 100) : "");
  if (n < 1000000) return NumberWords(n / 1000) + " thousand" + (n % 1000 ? " " + NumberWords(n % 1000) : "");
  std::string digits;  // longer: digit by digit
  for (char c : std::to_string(n)) digits += (digits.empty() ? "" : " ") + NumberWords(c - '0');
  return digits;
}

std::string OrdinalWords(long n) {
  std::string words = NumberWords(n);
  const size_t last = words.rfind(' ') + 1;
  const std::string word = words.substr(last);
  static const std::pair<const char*, const char*> irregular[] = {
      {"one", "first"}, {"two", "second"}, {"three", "third"}, {"five", "fifth"},
      {"eight", "eighth"}, {"nine", "ninth"}, {"twelve", "twelfth"}};
  for (const auto& [cardinal, ordinal] : irregular)
    if (word == cardinal) return words.substr(0, last) + ordinal;
  if (word.back() == 'y') return words.substr(0, words.size() - 1) + "ieth";
  return words + "th";
}

// Lower case words of letters and apostrophes; numbers (and ordinals, "3rd") in words.
std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  std::string word;
  const auto flush = [&] {
    while (!word.empty() && word.back() == '\'') word.pop_back();
    while (!word.empty() && word.front() == '\'') word.erase(0, 1);
    if (word.empty()) return;
    size_t digits = 0;
    while (digits < word.size() && std::isdigit(static_cast<unsigned char>(word[digits]))) ++digits;
    if (digits > 0 && digits <= 6) {
      const long n = std::strtol(word.substr(0, digits).c_str(), nullptr, 10);
      const std::string rest = word.substr(digits);
      std::istringstream spoken(rest == "st" || rest == "nd" || rest == "rd" || rest == "th" ? OrdinalWords(n)
                                                                                           : NumberWords(n));
      for (std::string w; spoken >> w;) words.push_back(w);
      if (!rest.empty() && rest != "st" && rest != "nd" && rest != "rd" && rest != "th") words.push_back(rest);
    } else {
      words.push_back(word);
    }
    word.clear();
  };
  for (char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (std::isalnum(u) || c == '\'' || u >= 0x80) word += static_cast<char>(std::tolower(u));
    else flush();
  }
  flush();
  return words;
}

size_t EditDistance(const std::vector<std::string>& a, const std::vector<std::string>& b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t up = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = up;
    }
  }
  return row[b.size()];
}

bool Contains(const std::vector<std::string>& words, const std::string& phrase) {
  const std::vector<std::string> wanted = Words(phrase);
  if (wanted.empty() || wanted.size() > words.size()) return false;
  return std::search(words.begin(), words.end(), wanted.begin(), wanted.end()) != words.end();
}

// ---- The path of a call --------------------------------------------------------------------

// What the far end of a PCMU call hears, at the recogniser's rate.
Pcm OverTheLine(const Pcm& speech) {
  Pcm line = speech;
  for (int16_t& s : line.samples) s = talmery::UlawToLinear(talmery::LinearToUlaw(s));
  return talmery::Resample(line, 16000);
}

double ChildCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

std::string Quoted(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

bool Recognise(const std::string& recogniser, const std::string& wav, std::string& transcript) {
  const std::string command = Quoted(recogniser) + " -infile " + Quoted(wav) + " -logfn /dev/null 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return false;
  char buffer[4096];
  transcript.clear();
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) transcript.append(buffer, n);
  std::replace(transcript.begin(), transcript.end(), '\n', ' ');
  return pclose(pipe) == 0;
}

struct Sample {
  size_t voice = 0, text = 0;
  std::string wav, transcript, error;
  double cpu = 0, wallSeconds = 0, seconds = 0, estimate = 0;
};

std::vector<std::string> Split(const std::string& list) {
  std::vector<std::string> items;
  std::stringstream in(list);
  for (std::string item; std::getline(in, item, ',');)
    if (!item.empty()) items.push_back(item);
  return items;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> voices = {"flite:awb", "flite:kal", "flite:kal16", "flite:rms", "flite:slt", "en", "en-us"};
  int rate = 150, seconds = 60, jobs = 2;
  size_t texts = Reminders().size();
  std::string recogniser = "pocketsphinx_continuous", out;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string flag = argv[i], value = argv[i + 1];
    if (flag == "--voices") voices = Split(value);
    else if (flag == "--rate") rate = std::atoi(value.c_str());
    else if (flag == "--seconds") seconds = std::atoi(value.c_str());
    else if (flag == "--jobs") jobs = std::max(1, std::atoi(value.c_str()));
    else if (flag == "--texts") texts = std::min(texts, static_cast<size_t>(std::max(1, std::atoi(value.c_str()))));
    else if (flag == "--recogniser") recogniser = value;
    else if (flag == "--out") out = value;
    else {
      std::fprintf(stderr, "speech_bench: unknown option %s\n", flag.c_str());
      return 2;
    }
  }
  if (argc % 2 == 0 || voices.empty() || rate < 80 || seconds < 10) {
    std::fprintf(stderr, "usage: speech_bench [--voices V,V,...] [--rate WPM] [--seconds S] [--jobs N] [--texts N] "
                         "[--recogniser PROGRAM] [--out DIR]\n");
    return 2;
  }
  char scratch[] = "/tmp/talmery-speech-bench-XXXXXX";
  if (out.empty()) {
    if (!mkdtemp(scratch)) {
      std::perror("speech_bench: mkdtemp");
      return 2;
    }
  } else if (mkdir(out.c_str(), 0755) != 0 && errno != EEXIST) {
    std::perror(("speech_bench: " + out).c_str());
    return 2;
  }
  const std::string dir = out.empty() ? scratch : out;

  // The texts as the gateway speaks them, and the facts each must carry.
  std::vector<std::string> spoken;
  std::vector<std::vector<std::string>> facts;
  for (size_t t = 0; t < texts; ++t) {
    const Reminder& r = Reminders()[t];
    ReminderRecord record;
    record.m_strSubject = r.subject;
    record.m_strLocation = r.location;
    record.m_strNotes = r.notes;
    const std::string text = ComposeCallText(CallerName(r.first, r.last), record, r.minutes * 60LL);
    bool cut = false;
    spoken.push_back(talmery::WithinSeconds(talmery::EarText(text), seconds, rate, cut));
    facts.push_back(r.facts);
    facts.back().insert(facts.back().begin(), NumberWords(r.minutes));
    const std::vector<std::string> words = Words(spoken.back());
    for (const std::string& fact : facts.back())
      if (!Contains(words, fact)) {
        std::fprintf(stderr, "speech_bench: text %zu does not say \"%s\" as planned: %s\n", t + 1, fact.c_str(),
                     spoken.back().c_str());
        return 2;
      }
  }

  // The speech, one helper at a time.
  std::vector<Sample> samples;
  for (size_t v = 0; v < voices.size(); ++v) {
    for (size_t t = 0; t < texts; ++t) {
      Sample s;
      s.voice = v;
      s.text = t;
      s.estimate = talmery::SpokenSeconds(spoken[t], rate);
      Pcm speech;
      const double before = ChildCpuSeconds();
      const auto start = std::chrono::steady_clock::now();
      if (!talmery::Synthesize(spoken[t], talmery::Voice{voices[v], rate}, speech, s.error)) {
        samples.push_back(s);
        continue;
      }
      s.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      s.cpu = ChildCpuSeconds() - before;
      s.seconds = static_cast<double>(speech.samples.size()) / speech.rate;
      std::string name = voices[v];
      std::replace(name.begin(), name.end(), ':', '-');
      s.wav = dir + "/" + name + "-" + std::to_string(t + 1) + ".wav";
      if (!talmery::WriteWavFile(s.wav, OverTheLine(speech), s.error)) s.wav.clear();
      samples.push_back(s);
    }
    std::fprintf(stderr, "speech_bench: %s spoken\n", voices[v].c_str());
  }

  // The recogniser, on --jobs threads.
  std::atomic<size_t> next{0};
  std::vector<std::thread> workers;
  for (int j = 0; j < jobs; ++j)
    workers.emplace_back([&] {
      for (size_t i; (i = next++) < samples.size();) {
        Sample& s = samples[i];
        if (s.error.empty() && !Recognise(recogniser, s.wav, s.transcript))
          s.error = recogniser + " failed on " + s.wav;
      }
    });
  for (std::thread& w : workers) w.join();

  std::ofstream report(dir + "/report.txt");
  std::printf("| Voice | Key facts heard | Word error rate | Helper CPU per text | CPU per second of speech | "
              "Speech length / estimate (mean, most) |\n|---|---|---|---|---|---|\n");
  for (size_t v = 0; v < voices.size(); ++v) {
    size_t heard = 0, total = 0, edits = 0, words = 0, n = 0;
    double cpu = 0, length = 0, ratioSum = 0, ratioMost = 0;
    std::string error;
    for (const Sample& s : samples) {
      if (s.voice != v) continue;
      if (!s.error.empty()) {
        error = s.error;
        break;
      }
      const std::vector<std::string> reference = Words(spoken[s.text]), hypothesis = Words(s.transcript);
      std::string missed;
      for (const std::string& fact : facts[s.text]) {
        ++total;
        if (Contains(hypothesis, fact)) ++heard;
        else missed += (missed.empty() ? "" : ", ") + fact;
      }
      edits += EditDistance(reference, hypothesis);
      words += reference.size();
      cpu += s.cpu;
      length += s.seconds;
      const double ratio = s.estimate > 0 ? s.seconds / s.estimate : 0;
      ratioSum += ratio;
      ratioMost = std::max(ratioMost, ratio);
      ++n;
      report << voices[v] << " text " << s.text + 1 << ": " << s.seconds << " s spoken, " << s.estimate
             << " s estimated, CPU " << s.cpu << " s, wall " << s.wallSeconds << " s\n  said:  " << spoken[s.text]
             << "\n  heard: " << s.transcript << "\n  missed: " << (missed.empty() ? "-" : missed) << "\n";
    }
    if (!error.empty() || n == 0) {
      std::printf("| %s | %s | | | | |\n", voices[v].c_str(), error.empty() ? "no texts" : error.c_str());
      continue;
    }
    std::printf("| %s | %.0f %% (%zu of %zu) | %.0f %% | %.0f ms | %.3f | %.2f, %.2f |\n", voices[v].c_str(),
                100.0 * static_cast<double>(heard) / static_cast<double>(total), heard, total,
                100.0 * static_cast<double>(edits) / static_cast<double>(words), 1000 * cpu / static_cast<double>(n),
                cpu / length, ratioSum / static_cast<double>(n), ratioMost);
  }
  std::printf("\n%zu texts at %d words a minute, max_message_seconds %d; the WAV files and what was heard of "
              "each text: %s\n", texts, rate, seconds, (dir + "/report.txt").c_str());
  return 0;
}
