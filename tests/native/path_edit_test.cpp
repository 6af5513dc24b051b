// Path text outcomes: what path_add would store and what path_remove leaves,
// for hand-picked values and for random ones up to the registry's 32,766.
#include "path_edit.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

namespace {

const std::wstring DEF = PATH_DEFAULT;
const std::wstring D = L"C:\\Users\\Олена\\AppData\\Local\\Kelvo";

// The engine's composition. stored == nullptr: no stored value.
// nullopt: nothing is written (and nothing announced).
std::optional<std::wstring> add(const wchar_t* stored, std::wstring_view dir) {
    std::wstring_view text = stored ? stored : PATH_DEFAULT;
    if (path_has_entry(text, dir, true)) return std::nullopt;
    std::wstring_view kept = path_keep(text);
    std::vector<wchar_t> out(path_join_length(kept, dir) + 1);  // exact: ASan sees overruns
    if (!path_join(kept, dir, out.data(), out.size())) return L"<join refused>";
    return std::wstring(out.data());
}

std::wstring remove(const std::wstring& text, std::wstring_view dir) {
    std::vector<wchar_t> buf(text.begin(), text.end());
    buf.push_back(0);
    size_t n = path_cut(buf.data(), text.size(), dir);
    EXPECT_LT(n, buf.size());
    EXPECT_EQ(buf[n], 0) << "cut text must stay terminated";
    return std::wstring(buf.data(), n);
}

std::vector<std::wstring> split(const std::wstring& s) {
    std::vector<std::wstring> out(1);
    for (wchar_t c : s) {
        if (c == L';') out.emplace_back();
        else out.back().push_back(c);
    }
    return out;
}

std::wstring join(const std::vector<std::wstring>& v) {
    std::wstring s;
    for (size_t i = 0; i < v.size(); ++i) s += (i ? L";" : L"") + v[i];
    return s;
}

struct AddCase { const wchar_t* stored; const wchar_t* dir; const wchar_t* want; };  // want nullptr: untouched

TEST(PathAdd, StoresOrLeavesAlone) {
    const std::wstring def_d = DEF + L";C:\\Kelvo";
    const AddCase cases[] = {
        {nullptr, L"C:\\Kelvo", def_d.c_str()},
        {L"", L"C:\\Kelvo", def_d.c_str()},
        {L";", L"C:\\Kelvo", def_d.c_str()},
        {L";;;;", L"C:\\Kelvo", def_d.c_str()},
        {L"A;B", L"C:\\Kelvo", L"A;B;C:\\Kelvo"},
        {L";;A;;", L"C:\\Kelvo", L"A;C:\\Kelvo"},
        {L"A;;B", L"C:\\Kelvo", L"A;;B;C:\\Kelvo"},
        {L";A;;B;", L"C:\\Kelvo", L"A;;B;C:\\Kelvo"},
        {L"%USERPROFILE%\\bin;A", L"C:\\Kelvo", L"%USERPROFILE%\\bin;A;C:\\Kelvo"},
        // Already a whole entry, in any letter case: untouched, separators and all.
        {L"C:\\Kelvo", L"C:\\Kelvo", nullptr},
        {L"A;C:\\Kelvo;B", L"C:\\Kelvo", nullptr},
        {L";;c:\\kelvo;;", L"C:\\Kelvo", nullptr},
        {L"A;C:\\KELVO", L"C:\\Kelvo", nullptr},
        {L"c:\\users\\ОЛЕНА\\appdata\\local\\kelvo;A", D.c_str(), nullptr},
        {L"C:\\Users\\ІЇЄҐЁ\\Kelvo", L"C:\\Users\\іїєґё\\Kelvo", nullptr},
        {L"C:\\Users\\JOSÉ ÑÜÞŸ\\Kelvo", L"C:\\Users\\José ñüþÿ\\Kelvo", nullptr},
        {L"C:\\Users\\ŁÓDŹ ŚŽ\\Kelvo", L"C:\\Users\\łódź śž\\Kelvo", nullptr},
        {L"C:\\Άλφα\\Kelvo", L"C:\\άλφα\\Kelvo", nullptr},
        // Longer entries, or entries merely containing the directory, are not it.
        {L"C:\\Kelvo2", L"C:\\Kelvo", L"C:\\Kelvo2;C:\\Kelvo"},
        {L"C:\\Kelvo\\sub;A", L"C:\\Kelvo", L"C:\\Kelvo\\sub;A;C:\\Kelvo"},
        {L"X:\\C:\\Kelvo", L"C:\\Kelvo", L"X:\\C:\\Kelvo;C:\\Kelvo"},
        {L" C:\\Kelvo;C:\\Kelvo ", L"C:\\Kelvo", L" C:\\Kelvo;C:\\Kelvo ;C:\\Kelvo"},
        {L"C:\\Kelvo", L"C:\\Kelvo\\", L"C:\\Kelvo;C:\\Kelvo\\"},
        // Letters that differ, not just in case, stay different.
        {L"C:\\Kelve", L"C:\\Kelvé", L"C:\\Kelve;C:\\Kelvé"},
        {L"C:\\a×b", L"C:\\a÷b", L"C:\\a×b;C:\\a÷b"},
        {L"C:\\Strasse", L"C:\\Straße", L"C:\\Strasse;C:\\Straße"},
        {L"C:\\Кельво", L"C:\\Kельво", L"C:\\Кельво;C:\\Kельво"},  // Cyrillic К vs Latin K
        // A directory whose name holds the separator.
        {L"A;B", L"C:\\a;b\\Kelvo", L"A;B;C:\\a;b\\Kelvo"},
        {L"A;C:\\a;b\\Kelvo;B", L"C:\\a;b\\Kelvo", nullptr},
        {L"A;C:\\a;b\\Kelvo2", L"C:\\a;b\\Kelvo", L"A;C:\\a;b\\Kelvo2;C:\\a;b\\Kelvo"},
    };
    for (const AddCase& c : cases) {
        std::optional<std::wstring> got = add(c.stored, c.dir);
        SCOPED_TRACE(testing::Message() << "stored=" << (c.stored ? c.stored : L"(none)")
                                        << " dir=" << c.dir);
        if (!c.want) {
            EXPECT_FALSE(got.has_value()) << "wrote " << *got;
        } else {
            ASSERT_TRUE(got.has_value());
            EXPECT_EQ(*got, c.want);
        }
    }
}

struct CutCase { const wchar_t* text; const wchar_t* dir; const wchar_t* want; };

TEST(PathRemove, CutsFirstWholeExactEntry) {
    const std::wstring a_d = L"A;" + D;
    const CutCase cases[] = {
        {L"A;C:\\Kelvo;B", L"C:\\Kelvo", L"A;B"},
        {L"A;C:\\Kelvo", L"C:\\Kelvo", L"A"},
        {L"C:\\Kelvo;B", L"C:\\Kelvo", L";B"},
        {L"C:\\Kelvo", L"C:\\Kelvo", L""},
        {L"A;C:\\Kelvo;B;C:\\Kelvo", L"C:\\Kelvo", L"A;B;C:\\Kelvo"},
        {L"C:\\Kelvo;B;C:\\Kelvo", L"C:\\Kelvo", L";B;C:\\Kelvo"},
        {L"A;;C:\\Kelvo;;B", L"C:\\Kelvo", L"A;;;B"},
        {L"%USERPROFILE%\\x;C:\\Kelvo", L"C:\\Kelvo", L"%USERPROFILE%\\x"},
        // Exact: another letter case is somebody else's entry.
        {L"A;c:\\kelvo;B", L"C:\\Kelvo", L"A;c:\\kelvo;B"},
        {L"c:\\kelvo;C:\\Kelvo", L"C:\\Kelvo", L"c:\\kelvo"},
        {a_d.c_str(), L"C:\\Users\\ОЛЕНА\\AppData\\Local\\Kelvo", a_d.c_str()},
        // Occurrences inside longer entries are passed over, never damaged.
        {L"C:\\Kelvo2;A;C:\\Kelvo;B", L"C:\\Kelvo", L"C:\\Kelvo2;A;B"},
        {L"C:\\Kelvo\\sub;C:\\Kelvo", L"C:\\Kelvo", L"C:\\Kelvo\\sub"},
        {L"X:\\C:\\Kelvo;C:\\Kelvo;Y", L"C:\\Kelvo", L"X:\\C:\\Kelvo;Y"},
        {L"C:\\Kelvo2;C:\\Kelvo\\sub", L"C:\\Kelvo", L"C:\\Kelvo2;C:\\Kelvo\\sub"},
        {L"C:\\Kelvo", L"C:\\Kelvo\\", L"C:\\Kelvo"},
        {L"", L"C:\\Kelvo", L""},
        {L";;", L"C:\\Kelvo", L";;"},
        // A directory whose name holds the separator.
        {L"A;C:\\a;b\\Kelvo;B", L"C:\\a;b\\Kelvo", L"A;B"},
        {L"C:\\a;b\\Kelvo", L"C:\\a;b\\Kelvo", L""},
        {L"C:\\a;b\\Kelvo2;C:\\a;b\\Kelvo", L"C:\\a;b\\Kelvo", L"C:\\a;b\\Kelvo2"},
    };
    for (const CutCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "text=" << c.text << " dir=" << c.dir);
        EXPECT_EQ(remove(c.text, c.dir), c.want);
    }
}

TEST(PathJoin, RefusesTooSmallRoom) {
    std::vector<wchar_t> out(path_join_length(L"A;B", L"C:\\K"));  // one short of the terminator
    EXPECT_EQ(path_join(L"A;B", L"C:\\K", out.data(), out.size()), 0);
    out.push_back(0);
    EXPECT_EQ(path_join(L"A;B", L"C:\\K", out.data(), out.size()), 1);
    EXPECT_EQ(std::wstring(out.data()), L"A;B;C:\\K");
}

// Random values built from entries; the model works on the entry list.
struct Gen {
    std::mt19937 rng{20261209u};
    size_t pick(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng); }

    std::wstring lower(std::wstring s) {
        for (wchar_t& c : s)
            if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c + 32);
            else if (c >= 0x410 && c <= 0x42F) c = static_cast<wchar_t>(c + 32);
        return s;
    }
    // kinds: 0 plain, 1 longer than D, 2 D in another case, 3 D itself
    std::wstring entry(int max_kind) {
        static const wchar_t alphabet[] = L"abcXYZ019 \\:._-%()~іїєЖéÉÿ";
        int kind = pick(8) == 0 ? static_cast<int>(pick(max_kind + 1)) : 0;
        switch (kind) {
            case 1: { const wchar_t* tails[] = {L"2", L"\\sub", L" ", L"\\"}; return (pick(2) ? L"x" : L"") + D + tails[pick(4)]; }
            case 2: return lower(D);
            case 3: return D;
        }
        std::wstring s;
        for (size_t n = pick(4) == 0 ? 0 : pick(24); n > 0; --n) s += alphabet[pick(sizeof alphabet / sizeof *alphabet - 1)];
        return s;
    }
    // An entry list whose joined text is at most limit long (exactly limit when fill).
    std::vector<std::wstring> entries(int max_kind, size_t limit, bool fill) {
        std::vector<std::wstring> v{entry(max_kind)};
        size_t len = v[0].size();
        for (size_t want = pick(12); v.size() < want || (fill && len < limit);) {
            std::wstring e = entry(max_kind);
            if (len + 1 + e.size() > limit) break;
            len += 1 + e.size();
            v.push_back(e);
        }
        if (fill && len < limit) v.emplace_back(limit - len - 1, L'q');
        if (v[0].size() > limit) v[0].resize(limit, L'q');
        return v;
    }
};

TEST(PathProperty, AddThenRemoveKeepsEveryOtherEntry) {
    Gen g;
    for (int round = 0; round < 1500; ++round) {
        bool big = round % 50 == 0;
        size_t limit = round == 0 ? 32766 : big ? 30000 + g.pick(2767) : 300;
        std::vector<std::wstring> in = g.entries(1, limit, big);
        std::wstring text = join(in);
        ASSERT_LE(text.size(), 32766u);
        if (round == 0) ASSERT_EQ(text.size(), 32766u);
        SCOPED_TRACE(testing::Message() << "round " << round);

        // Expected: the entries without the outer empty ones (default if none), then D.
        size_t b = 0, e = in.size();
        while (b < e && in[b].empty()) ++b;
        while (e > b && in[e - 1].empty()) --e;
        std::vector<std::wstring> kept(in.begin() + b, in.begin() + e);
        if (kept.empty()) kept.push_back(DEF);

        std::optional<std::wstring> added = add(text.c_str(), D);
        ASSERT_TRUE(added.has_value());
        std::vector<std::wstring> want = kept;
        want.push_back(D);
        ASSERT_EQ(split(*added), want);
        ASSERT_EQ(remove(*added, D), join(kept));

        // With our directory present in any case, add changes nothing.
        std::vector<std::wstring> with = in;
        with.insert(with.begin() + g.pick(with.size() + 1), g.pick(2) ? D : g.lower(D));
        ASSERT_FALSE(add(join(with).c_str(), D).has_value());
    }
}

TEST(PathProperty, RemoveCutsOnlyTheFirstExactEntry) {
    Gen g;
    for (int round = 0; round < 1500; ++round) {
        bool big = round % 50 == 0;
        std::vector<std::wstring> in = g.entries(3, big ? 32766 : 300, big);
        std::wstring text = join(in);
        ASSERT_LE(text.size(), 32766u);
        SCOPED_TRACE(testing::Message() << "round " << round);

        std::vector<std::wstring> want = in;
        for (size_t i = 0; i < want.size(); ++i) {
            if (want[i] != D) continue;
            if (i == 0) want[0].clear();  // the separator after it then starts the text
            else want.erase(want.begin() + i);
            break;
        }
        ASSERT_EQ(remove(text, D), join(want));
    }
}

}  // namespace
