/* Every dialog template of the program, read from the resources the way the
** dialog manager reads them, and laid out at 96 and 120 pixels per inch with
** the template's own font: no visible control may overlap another or stick
** out of the dialog, and no label, check box, radio button, push button or
** group box may be too narrow (or, for wrapping labels and the focus box of a
** check box or radio button, too low) for its text. */
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

namespace {

struct TemplateItem {
    DWORD style = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    DWORD id = 0;
    WORD classAtom = 0;  /* 0x80 button ... 0x85 combo box; 0 when named */
    std::wstring className, text;
};

struct DialogTemplate {
    int id = 0;
    short cx = 0, cy = 0;
    WORD pointSize = 8;
    std::wstring face;
    std::vector<TemplateItem> items;
};

const BYTE *ReadNameOrOrdinal(const BYTE *p, WORD *ordinal, std::wstring *name)
{
    const WORD *w = (const WORD *)p;
    if (ordinal) *ordinal = 0;
    if (*w == 0xFFFF) {
        if (ordinal) *ordinal = w[1];
        return p + 4;
    }
    std::wstring s;
    while (*w) s += (wchar_t)*w++;
    if (name) *name = s;
    return (const BYTE *)(w + 1);
}

const BYTE *AlignDword(const BYTE *base, const BYTE *p)
{
    return base + ((p - base + 3) & ~3);
}

/* An extended dialog template (the only kind the resource script has). */
bool ParseTemplate(const BYTE *base, DialogTemplate *out)
{
    const BYTE *p = base;
    if (((const WORD *)p)[0] != 1 || ((const WORD *)p)[1] != 0xFFFF) return false;
    DWORD style = *(const DWORD *)(p + 12);
    WORD count = *(const WORD *)(p + 16);
    out->cx = *(const short *)(p + 22);
    out->cy = *(const short *)(p + 24);
    p += 26;
    p = ReadNameOrOrdinal(p, nullptr, nullptr); /* menu */
    p = ReadNameOrOrdinal(p, nullptr, nullptr); /* class */
    p = ReadNameOrOrdinal(p, nullptr, nullptr); /* caption */
    if (style & (DS_SETFONT | DS_SHELLFONT)) {
        out->pointSize = *(const WORD *)p;
        p += 6;
        p = ReadNameOrOrdinal(p, nullptr, &out->face);
    }
    for (WORD i = 0; i < count; i++) {
        p = AlignDword(base, p);
        TemplateItem item;
        item.style = *(const DWORD *)(p + 8);
        item.x = *(const short *)(p + 12);
        item.y = *(const short *)(p + 14);
        item.cx = *(const short *)(p + 16);
        item.cy = *(const short *)(p + 18);
        item.id = *(const DWORD *)(p + 20);
        p += 24;
        p = ReadNameOrOrdinal(p, &item.classAtom, &item.className);
        p = ReadNameOrOrdinal(p, nullptr, &item.text);
        WORD extra = *(const WORD *)p;
        p += 2 + extra;
        out->items.push_back(item);
    }
    return true;
}

BOOL CALLBACK CollectDialog(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR param)
{
    (void)type;
    if (!IS_INTRESOURCE(name)) return TRUE;
    HRSRC found = FindResourceW(module, name, (LPCWSTR)RT_DIALOG);
    const BYTE *bytes = found ? (const BYTE *)LockResource(LoadResource(module, found)) : nullptr;
    DialogTemplate t;
    t.id = (int)(INT_PTR)name;
    if (bytes && ParseTemplate(bytes, &t)) ((std::vector<DialogTemplate> *)param)->push_back(t);
    return TRUE;
}

bool IsClass(const TemplateItem &item, WORD atom, const wchar_t *name)
{
    if (item.classAtom) return item.classAtom == atom;
    return _wcsicmp(item.className.c_str(), name) == 0;
}
bool IsButton(const TemplateItem &i) { return IsClass(i, 0x80, L"Button"); }
bool IsStatic(const TemplateItem &i) { return IsClass(i, 0x82, L"Static"); }
bool IsCombo(const TemplateItem &i) { return IsClass(i, 0x85, L"ComboBox"); }
bool IsUpDown(const TemplateItem &i) { return IsClass(i, 0, UPDOWN_CLASSW); }
bool IsGroupBox(const TemplateItem &i) { return IsButton(i) && (i.style & BS_TYPEMASK) == BS_GROUPBOX; }
bool IsBoxButton(const TemplateItem &i)
{
    DWORD type = i.style & BS_TYPEMASK;
    return IsButton(i) && (type == BS_CHECKBOX || type == BS_AUTOCHECKBOX || type == BS_3STATE ||
                           type == BS_AUTO3STATE || type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON);
}
bool IsTextStatic(const TemplateItem &i)
{
    DWORD type = i.style & SS_TYPEMASK;
    return IsStatic(i) && (type == SS_LEFT || type == SS_CENTER || type == SS_RIGHT || type == SS_LEFTNOWORDWRAP);
}

/* The rectangle a control covers in dialog units.  A drop-down combo box's
** template height is its open list; closed, it is one edit line high. */
RECT Covered(const TemplateItem &i)
{
    int h = IsCombo(i) && i.cy > 14 ? 14 : i.cy;
    return RECT{i.x, i.y, i.x + i.cx, i.y + h};
}

std::string Describe(const TemplateItem &i)
{
    std::string text(i.text.begin(), i.text.end());
    return "control " + std::to_string((int)(short)i.id) + " \"" + text + "\" at " + std::to_string(i.x) + "," +
           std::to_string(i.y) + " size " + std::to_string(i.cx) + "x" + std::to_string(i.cy);
}

/* The label as drawn: a single '&' marks the next letter and takes no room. */
std::wstring Drawn(const std::wstring &text)
{
    std::wstring out;
    for (size_t k = 0; k < text.size(); k++) {
        if (text[k] == L'&' && k + 1 < text.size()) k++;
        out += text[k];
    }
    return out;
}

std::vector<DialogTemplate> ProgramDialogs()
{
    std::vector<DialogTemplate> dialogs;
    EnumResourceNamesW(GetModuleHandleW(nullptr), (LPCWSTR)RT_DIALOG, CollectDialog, (LONG_PTR)&dialogs);
    return dialogs;
}

TEST(DialogLayout, NoControlOverlapsAnotherOrLeavesTheDialog)
{
    std::vector<DialogTemplate> dialogs = ProgramDialogs();
    ASSERT_GE(dialogs.size(), 17u);
    for (const DialogTemplate &d : dialogs) {
        for (size_t a = 0; a < d.items.size(); a++) {
            const TemplateItem &one = d.items[a];
            if (!(one.style & WS_VISIBLE) || IsUpDown(one)) continue; /* an up-down sits on its buddy */
            RECT r1 = Covered(one);
            EXPECT_TRUE(r1.left >= 0 && r1.top >= 0 && r1.right <= d.cx && r1.bottom <= d.cy)
                << "dialog " << d.id << ": " << Describe(one) << " leaves the dialog (" << d.cx << "x" << d.cy << ")";
            for (size_t b = a + 1; b < d.items.size(); b++) {
                const TemplateItem &two = d.items[b];
                if (!(two.style & WS_VISIBLE) || IsUpDown(two)) continue;
                RECT r2 = Covered(two), both;
                if (!IntersectRect(&both, &r1, &r2)) continue;
                RECT inside;
                UnionRect(&inside, &r1, &r2);
                bool framed = (IsGroupBox(one) && EqualRect(&inside, &r1)) || (IsGroupBox(two) && EqualRect(&inside, &r2));
                EXPECT_TRUE(framed) << "dialog " << d.id << ": " << Describe(one) << " overlaps " << Describe(two);
            }
        }
    }
}

TEST(DialogLayout, EveryTextFitsItsControlAt96And120PixelsPerInch)
{
    std::vector<DialogTemplate> dialogs = ProgramDialogs();
    ASSERT_FALSE(dialogs.empty());
    HDC dc = CreateCompatibleDC(nullptr);
    for (int dpi : {96, 120}) {
        for (const DialogTemplate &d : dialogs) {
            HFONT font = CreateFontW(-MulDiv(d.pointSize, dpi, 72), 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0,
                                     0, 0, d.face.c_str());
            ASSERT_TRUE(font);
            HGDIOBJ old = SelectObject(dc, font);
            /* Dialog units as the dialog manager derives them from the font. */
            TEXTMETRICW tm;
            GetTextMetricsW(dc, &tm);
            SIZE alphabet;
            GetTextExtentPoint32W(dc, L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", 52, &alphabet);
            int baseX = (alphabet.cx / 26 + 1) / 2, baseY = tm.tmHeight;
            /* The check box or radio circle and the gap before the text, and
            ** the edges of a push button or group box, as the system draws them. */
            int boxRoom = MulDiv(18, dpi, 96), edgeRoom = MulDiv(8, dpi, 96);
            for (const TemplateItem &i : d.items) {
                if (!(i.style & WS_VISIBLE) || i.text.empty()) continue;
                std::wstring text = Drawn(i.text);
                int width = MulDiv(i.cx, baseX, 4), height = MulDiv(i.cy, baseY, 8);
                SIZE size = {};
                GetTextExtentPoint32W(dc, text.c_str(), (int)text.size(), &size);
                if (IsTextStatic(i)) {
                    RECT need = {0, 0, width, 0};
                    UINT wrap = (i.style & SS_TYPEMASK) == SS_LEFTNOWORDWRAP ? DT_SINGLELINE : DT_WORDBREAK;
                    DrawTextW(dc, text.c_str(), (int)text.size(), &need, DT_CALCRECT | DT_NOPREFIX | wrap);
                    EXPECT_TRUE(need.right <= width && need.bottom <= height)
                        << "dialog " << d.id << " at " << dpi << " dpi: " << Describe(i) << " needs " << need.right
                        << "x" << need.bottom << " pixels, has " << width << "x" << height;
                } else if (IsBoxButton(i)) {
                    EXPECT_LE(size.cx + boxRoom, width)
                        << "dialog " << d.id << " at " << dpi << " dpi: " << Describe(i) << " is cut short";
                    /* The focus box is drawn one pixel around the text. */
                    EXPECT_LE(size.cy + 2, height) << "dialog " << d.id << " at " << dpi << " dpi: " << Describe(i)
                                                   << " is too low for its focus box";
                } else if (IsButton(i)) {
                    EXPECT_LE(size.cx + edgeRoom + (IsGroupBox(i) ? edgeRoom : 0), width)
                        << "dialog " << d.id << " at " << dpi << " dpi: " << Describe(i) << " is cut short";
                }
            }
            SelectObject(dc, old);
            DeleteObject(font);
        }
    }
    DeleteDC(dc);
}

} // namespace
