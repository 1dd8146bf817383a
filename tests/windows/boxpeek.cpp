// Reads a top-level window back for a test: its caption, class, the texts of its statics and
// buttons, which button is the default and whether it shows an icon.
//
//   boxpeek [--wait MS] [--class NAME] CAPTION   describe the first window with that caption
//   boxpeek --list                               one line per visible top-level window
//
// Output, one item per line, fields separated by a tab:
//   window  <hwnd hex>  <class>  <caption>
//   static  <text>
//   icon    <kind>          kind: question, exclamation, asterisk, hand, application, or
//                           other (an icon, but none of those or not told apart: on screens of
//                           256 colours the kinds cannot be told apart)
//   button  <id>  <text>  default|-  focus|-
//   focus   <hwnd hex>  <class>  <text>   (the control with the keyboard focus, if any)
// Exit code 0 when the window was found, 1 when it was not, 2 on bad arguments.
// BOXPEEK_DEBUG set: the colour distance of each stock icon goes to stderr.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

// Control texts are printed with tabs, newlines and backslashes escaped, so one item stays one line.
static void PrintEscaped(const char *text)
{
    for (const unsigned char *p = (const unsigned char *)text; *p != 0; p++) {
        if (*p == '\\')
            fputs("\\\\", stdout);
        else if (*p == '\t')
            fputs("\\t", stdout);
        else if (*p == '\n')
            fputs("\\n", stdout);
        else if (*p == '\r')
            fputs("\\r", stdout);
        else if (*p < 0x20)
            printf("\\x%02x", *p);
        else
            putchar(*p);
    }
}

static void ReadText(HWND window, char *buffer, int size)
{
    buffer[0] = 0;
    // WM_GETTEXT rather than GetWindowText: the latter does not read controls of another process.
    SendMessageTimeoutA(window, WM_GETTEXT, (WPARAM)size, (LPARAM)buffer, SMTO_ABORTIFHUNG, 2000, NULL);
    buffer[size - 1] = 0;
}

// A 32-bit top-down DIB section of the given size, selected into a new memory DC.
struct Canvas {
    HDC dc;
    HBITMAP bitmap;
    HGDIOBJ previous;
    DWORD *pixels;
};

static BOOL OpenCanvas(Canvas *canvas, int width, int height)
{
    BITMAPINFO info;
    memset(&info, 0, sizeof(info));
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void *bits = NULL;
    canvas->dc = CreateCompatibleDC(NULL);
    canvas->bitmap = CreateDIBSection(canvas->dc, &info, DIB_RGB_COLORS, &bits, NULL, 0);
    if (canvas->dc == NULL || canvas->bitmap == NULL) {
        if (canvas->bitmap != NULL)
            DeleteObject(canvas->bitmap);
        if (canvas->dc != NULL)
            DeleteDC(canvas->dc);
        return FALSE;
    }
    canvas->previous = SelectObject(canvas->dc, canvas->bitmap);
    canvas->pixels = (DWORD *)bits;
    return TRUE;
}

static void CloseCanvas(Canvas *canvas)
{
    SelectObject(canvas->dc, canvas->previous);
    DeleteObject(canvas->bitmap);
    DeleteDC(canvas->dc);
}

// Which stock icon an icon control of another process shows. Its handle means nothing here, so
// the control's pixels on the screen are compared with each stock icon drawn on the control's
// background. The icons are drawn in the screen's own format first, so that on a palette display
// both go through the same colour mapping.
static const char *IconKind(HWND control)
{
    static const struct {
        LPCSTR resource;
        const char *name;
    } kinds[] = {
        {IDI_QUESTION, "question"},
        {IDI_EXCLAMATION, "exclamation"},
        {IDI_ASTERISK, "asterisk"},
        {IDI_HAND, "hand"},
        {IDI_APPLICATION, "application"},
    };
    RECT rect;
    GetWindowRect(control, &rect);
    int width = GetSystemMetrics(SM_CXICON);
    int height = GetSystemMetrics(SM_CYICON);
    if (rect.right - rect.left < width || rect.bottom - rect.top < height)
        return "other";
    const char *best = "other";
    HDC screen = GetDC(NULL);
    Canvas shown, drawn;
    if (OpenCanvas(&shown, width, height)) {
        if (OpenCanvas(&drawn, width, height)) {
            BitBlt(shown.dc, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
            // The icons' corners are transparent: the corner shows the control's background.
            HBRUSH background = CreateSolidBrush(GetPixel(screen, rect.left, rect.top));
            HDC deviceDC = CreateCompatibleDC(screen);
            HBITMAP deviceBitmap = CreateCompatibleBitmap(screen, width, height);
            HGDIOBJ previous = SelectObject(deviceDC, deviceBitmap);
            RECT all = {0, 0, width, height};
            // Colour depths below 24 bits round the two drawings differently, so the kinds are
            // ranked by their mean colour distance and the best one must be close and clearly ahead.
            double distances[sizeof(kinds) / sizeof(kinds[0])];
            int count = (int)(sizeof(kinds) / sizeof(kinds[0]));
            for (int k = 0; k < count; k++) {
                FillRect(deviceDC, &all, background);
                DrawIconEx(deviceDC, 0, 0, LoadIconA(NULL, kinds[k].resource), width, height, 0, NULL, DI_NORMAL);
                BitBlt(drawn.dc, 0, 0, width, height, deviceDC, 0, 0, SRCCOPY);
                GdiFlush();
                double total = 0;
                for (int i = 0; i < width * height; i++)
                    for (int shift = 0; shift < 24; shift += 8)
                        total += abs((int)((drawn.pixels[i] >> shift) & 0xFF) - (int)((shown.pixels[i] >> shift) & 0xFF));
                distances[k] = total / (width * height * 3);
                if (getenv("BOXPEEK_DEBUG"))
                    fprintf(stderr, "%s: mean distance %.2f\n", kinds[k].name, distances[k]);
            }
            int nearest = 0;
            for (int k = 1; k < count; k++)
                if (distances[k] < distances[nearest])
                    nearest = k;
            double runnerUp = 1e9;
            for (int k = 0; k < count; k++)
                if (k != nearest && distances[k] < runnerUp)
                    runnerUp = distances[k];
            if (distances[nearest] <= 4.0 && distances[nearest] * 3 < runnerUp)
                best = kinds[nearest].name;
            SelectObject(deviceDC, previous);
            DeleteObject(deviceBitmap);
            DeleteDC(deviceDC);
            DeleteObject(background);
            CloseCanvas(&drawn);
        }
        CloseCanvas(&shown);
    }
    ReleaseDC(NULL, screen);
    return best;
}

struct Peek {
    HWND focus;
};

static BOOL CALLBACK DescribeChild(HWND child, LPARAM parameter)
{
    Peek *peek = (Peek *)parameter;
    if (!IsWindowVisible(child))
        return TRUE;
    char className[64];
    char text[1024];
    GetClassNameA(child, className, sizeof(className));
    LONG style = GetWindowLongA(child, GWL_STYLE);
    if (lstrcmpiA(className, "Static") == 0) {
        if ((style & SS_TYPEMASK) == SS_ICON) {
            if (SendMessageA(child, STM_GETICON, 0, 0) != 0)
                printf("icon\t%s\n", IconKind(child));
            return TRUE;
        }
        ReadText(child, text, sizeof(text));
        fputs("static\t", stdout);
        PrintEscaped(text);
        putchar('\n');
    } else if (lstrcmpiA(className, "Button") == 0) {
        ReadText(child, text, sizeof(text));
        printf("button\t%d\t", GetDlgCtrlID(child));
        PrintEscaped(text);
        printf("\t%s\t%s\n", (style & 0x0F) == BS_DEFPUSHBUTTON ? "default" : "-",
               child == peek->focus ? "focus" : "-");
    }
    return TRUE;
}

static HWND FocusOf(HWND window)
{
    GUITHREADINFO info;
    memset(&info, 0, sizeof(info));
    info.cbSize = sizeof(info);
    DWORD thread = GetWindowThreadProcessId(window, NULL);
    if (!GetGUIThreadInfo(thread, &info))
        return NULL;
    return info.hwndFocus;
}

static void Describe(HWND window)
{
    char className[64];
    char text[1024];
    GetClassNameA(window, className, sizeof(className));
    ReadText(window, text, sizeof(text));
    printf("window\t%p\t%s\t", (void *)window, className);
    PrintEscaped(text);
    putchar('\n');
    Peek peek;
    peek.focus = FocusOf(window);
    EnumChildWindows(window, DescribeChild, (LPARAM)&peek);
    if (peek.focus != NULL && IsChild(window, peek.focus)) {
        GetClassNameA(peek.focus, className, sizeof(className));
        ReadText(peek.focus, text, sizeof(text));
        printf("focus\t%p\t%s\t", (void *)peek.focus, className);
        PrintEscaped(text);
        putchar('\n');
    }
}

static BOOL CALLBACK ListWindow(HWND window, LPARAM)
{
    if (!IsWindowVisible(window))
        return TRUE;
    char className[64];
    char text[1024];
    GetClassNameA(window, className, sizeof(className));
    ReadText(window, text, sizeof(text));
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    printf("window\t%p\t%s\t", (void *)window, className);
    PrintEscaped(text);
    printf("\t%lu\n", process);
    return TRUE;
}

int main(int argc, char **argv)
{
    DWORD wait = 0;
    const char *className = NULL;
    const char *caption = NULL;
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], "--list") == 0) {
            EnumWindows(ListWindow, 0);
            return 0;
        } else if (strcmp(argv[i], "--wait") == 0 && i + 1 < argc) {
            wait = strtoul(argv[++i], NULL, 10);
        } else if (strcmp(argv[i], "--class") == 0 && i + 1 < argc) {
            className = argv[++i];
        } else if (caption == NULL) {
            caption = argv[i];
        } else {
            fprintf(stderr, "usage: boxpeek [--wait MS] [--class NAME] CAPTION | --list\n");
            return 2;
        }
    }
    if (caption == NULL) {
        fprintf(stderr, "usage: boxpeek [--wait MS] [--class NAME] CAPTION | --list\n");
        return 2;
    }

    DWORD start = GetTickCount();
    HWND window;
    for (;;) {
        window = FindWindowA(className, caption);
        if (window != NULL && IsWindowVisible(window))
            break;
        if (GetTickCount() - start >= wait) {
            printf("none\n");
            return 1;
        }
        Sleep(50);
    }
    Describe(window);
    return 0;
}
