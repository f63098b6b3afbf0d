// SPDX-License-Identifier: MIT
// .NET binding of the ntsrch search client module. C# 7.2 with unsafe code
// (mcs -langversion:7.2 -unsafe; <AllowUnsafeBlocks>true</AllowUnsafeBlocks> with the SDK):
// builds with Mono's mcs as well as with the .NET SDK.
//
//   string url = Ntsrch.Module.SearchUrl("night skies");
//   string kept = Ntsrch.Module.FilterTracks(tracksJson, "sky", false, null, Ntsrch.SortMode.TitleAsc);
//   byte[] flat = Ntsrch.Module.NormalizeBytes(File.ReadAllBytes("unified.json"));
//   string later = await Ntsrch.Module.FilterTracksAsync(tracksJson, "sky");
//
// Text goes in as a string, or as UTF-8 bytes (byte[], ReadOnlySpan<byte>,
// ReadOnlyMemory<byte>); a NUL in it is refused (ArgumentException) before any call, since
// the module would stop reading there. Results come back as a string, or as UTF-8 bytes from
// the *Bytes methods. Every owned result is a raw IntPtr: the text is copied, then the
// pointer is released with ntsrch_free exactly once. A null result is explained by the
// last-error text, read at once on the thread that made the call: a message means the input
// was refused (NtsrchException, an ArgumentException); no message means memory ran out
// (OutOfMemoryException). Any method may be called from any number of threads at once.
using System;
using System.Runtime.InteropServices;
using System.Text;
using System.Threading.Tasks;

namespace Ntsrch
{
    /// <summary>Orders of FilterTracks (NTSRCH_SORT_* in the C header). Any other value keeps
    /// input order, as the module does.</summary>
    public enum SortMode
    {
        None = 0,
        TitleAsc = 1,
        ArtistAsc = 2,
        NewestFirst = 3,
        ShortestFirst = 4,
        DownloadedFirst = 5,
    }

    /// <summary>A call refused because of its input; LastError is the module's message.</summary>
    public sealed class NtsrchException : ArgumentException
    {
        public NtsrchException(string function, string lastError)
            : base(function + ": " + lastError)
        {
            Function = function;
            LastError = lastError;
        }

        /// <summary>The C function that failed, e.g. "ntsrch_build_search_url".</summary>
        public string Function { get; private set; }

        /// <summary>The module's last-error text.</summary>
        public string LastError { get; private set; }
    }

    /// <summary>
    /// The module's functions. Each producing call has overloads for string, byte[],
    /// ReadOnlySpan&lt;byte&gt; and ReadOnlyMemory&lt;byte&gt; text (all text arguments of one
    /// call of the same kind); a null string or byte[] passes C's NULL, a span or memory is
    /// always a text (an empty one is the empty text). The *Async variants run the call on
    /// the thread pool and check their arguments before they return: bad arguments throw at
    /// once, a refused input faults the task. A buffer given to an *Async call must not change
    /// until its task completes.
    /// </summary>
    public static class Module
    {
        /// <summary>The module's name without the platform's suffix.</summary>
        public const string LibraryName = "nortavel-nortaveltune-search-client";

        /// <summary>The module ABI this wrapper speaks.</summary>
        public const int ExpectedAbiVersion = 1;

        const string UrlFunction = "ntsrch_build_search_url";
        const string FilterFunction = "ntsrch_filter_and_sort_tracks_json";
        const string NormalizeFunction = "ntsrch_normalize_unified_results_json";

        enum Platform { Elf, Windows, MacOS }

        static readonly Platform Host =
            RuntimeInformation.IsOSPlatform(OSPlatform.Windows) ? Platform.Windows
            : RuntimeInformation.IsOSPlatform(OSPlatform.OSX) ? Platform.MacOS
            : Platform.Elf;

        /// <summary>The module's file on this platform (.so, .dll or .dylib; no "lib"
        /// prefix), found by the system's library search.</summary>
        public static string FileName
        {
            get
            {
                switch (Host)
                {
                    case Platform.Windows: return LibraryName + ".dll";
                    case Platform.MacOS: return LibraryName + ".dylib";
                    default: return LibraryName + ".so";
                }
            }
        }

        // The eight functions, each declared once and named for its export: a delegate
        // type's name is the symbol it is bound to, by address, in the module Load opened.
        // Binding by address finds the same file on every runtime and platform, where an
        // import names one file name and Mono adds no suffix to a bare one.
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)] delegate IntPtr ntsrch_version();
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)] delegate int ntsrch_abi_version();
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)] delegate IntPtr ntsrch_last_error();
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)] delegate void ntsrch_free(IntPtr p);
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)] unsafe delegate IntPtr ntsrch_build_search_url(byte* baseUrl, byte* query);
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)] unsafe delegate IntPtr ntsrch_filter_and_sort_tracks_json(byte* tracks, byte* query, int downloadedOnly, byte* downloaded, int sort);
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)] unsafe delegate IntPtr ntsrch_normalize_unified_results_json(byte* json, UIntPtr len);
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)] delegate int ntsrch_selftest();

        sealed class Functions
        {
            internal readonly ntsrch_version Version;
            internal readonly ntsrch_abi_version AbiVersion;
            internal readonly ntsrch_last_error LastError;
            internal readonly ntsrch_free Free;
            internal readonly ntsrch_build_search_url Url;
            internal readonly ntsrch_filter_and_sort_tracks_json Filter;
            internal readonly ntsrch_normalize_unified_results_json Normalize;
            internal readonly ntsrch_selftest SelfTest;

            // place: where the module was found, for the error.
            internal Functions(IntPtr module, string place)
            {
                Version = Bind<ntsrch_version>(module, place);
                AbiVersion = Bind<ntsrch_abi_version>(module, place);
                LastError = Bind<ntsrch_last_error>(module, place);
                Free = Bind<ntsrch_free>(module, place);
                Url = Bind<ntsrch_build_search_url>(module, place);
                Filter = Bind<ntsrch_filter_and_sort_tracks_json>(module, place);
                Normalize = Bind<ntsrch_normalize_unified_results_json>(module, place);
                SelfTest = Bind<ntsrch_selftest>(module, place);
            }

            static T Bind<T>(IntPtr module, string place) where T : class
            {
                string name = typeof(T).Name;
                IntPtr address = Loader.Symbol(module, name);
                if (address == IntPtr.Zero)
                    throw new EntryPointNotFoundException(string.Format("{0} has no {1}", place, name));
                return Marshal.GetDelegateForFunctionPointer<T>(address);
            }
        }

        // ---- Finding the module, once, on first use. $NTSRCH_MODULE, when set, is the only
        // place tried; else the file beside the program, then the system's library search
        // (where the Debian package puts it). A failure is kept and thrown by every call.

        static readonly object LoadLock = new object();
        static volatile Functions bound;
        static Exception loadFailure;

        static Functions Api
        {
            get { return bound ?? Load(); }
        }

        static Functions Load()
        {
            lock (LoadLock)
            {
                if (bound == null && loadFailure == null)
                {
                    try
                    {
                        string place;
                        IntPtr module = Find(out place);
                        bound = new Functions(module, place);
                    }
                    catch (Exception e) when (e is DllNotFoundException || e is EntryPointNotFoundException)
                    {
                        loadFailure = e;
                    }
                }
                if (bound != null)
                    return bound;
                throw loadFailure is DllNotFoundException ? (Exception)new DllNotFoundException(loadFailure.Message)
                    : new EntryPointNotFoundException(loadFailure.Message);
            }
        }

        static IntPtr Find(out string found)
        {
            string place = Environment.GetEnvironmentVariable("NTSRCH_MODULE");
            var places = !string.IsNullOrEmpty(place) ? new[] { Tuple.Create(place, "$NTSRCH_MODULE") }
                : new[]
                {
                    Tuple.Create(System.IO.Path.Combine(AppDomain.CurrentDomain.BaseDirectory, FileName), "beside the program"),
                    Tuple.Create(FileName, "system library path"),
                };
            var tried = new StringBuilder();
            foreach (var p in places)
            {
                IntPtr module = IntPtr.Zero;
                string why = Truncated(p.Item1) ?? Loader.Open(p.Item1, out module);
                found = p.Item1;
                if (why == null)
                    return module;
                tried.AppendFormat("\n  {0} ({1}): {2}", p.Item1, p.Item2, why);
            }
            throw new DllNotFoundException(string.Format("could not load {0}; tried:{1}", FileName, tried));
        }

        static class Loader
        {
            [DllImport("libdl.so.2", EntryPoint = "dlopen")] static extern IntPtr DlopenElf(string path, int mode);
            [DllImport("libdl.so.2", EntryPoint = "dlsym")] static extern IntPtr DlsymElf(IntPtr module, string name);
            [DllImport("libdl.so.2", EntryPoint = "dlerror")] static extern IntPtr DlerrorElf();
            [DllImport("/usr/lib/libSystem.B.dylib", EntryPoint = "dlopen")] static extern IntPtr DlopenMac(string path, int mode);
            [DllImport("/usr/lib/libSystem.B.dylib", EntryPoint = "dlsym")] static extern IntPtr DlsymMac(IntPtr module, string name);
            [DllImport("/usr/lib/libSystem.B.dylib", EntryPoint = "dlerror")] static extern IntPtr DlerrorMac();
            [DllImport("kernel32.dll", CharSet = CharSet.Unicode, SetLastError = true)] static extern IntPtr LoadLibraryW(string path);
            [DllImport("kernel32.dll", CharSet = CharSet.Ansi, ExactSpelling = true)] static extern IntPtr GetProcAddress(IntPtr module, string name);

            // Why the module at path does not load, or null once it is loaded.
            internal static string Open(string path, out IntPtr module)
            {
                if (Host == Platform.Windows)
                {
                    module = LoadLibraryW(path);
                    return module != IntPtr.Zero ? null
                        : string.Format("LoadLibrary failed (error {0})", Marshal.GetLastWin32Error());
                }
                // RTLD_NOW, and RTLD_LOCAL, which macOS does not assume
                module = Host == Platform.MacOS ? DlopenMac(path, 0x2 | 0x4) : DlopenElf(path, 0x2);
                if (module != IntPtr.Zero)
                    return null;
                IntPtr e = Host == Platform.MacOS ? DlerrorMac() : DlerrorElf();
                string why = e == IntPtr.Zero ? "dlopen failed" : FromUtf8(e);
                // glibc names the path again; it is already on the line
                return why.StartsWith(path + ": ", StringComparison.Ordinal) ? why.Substring(path.Length + 2) : why;
            }

            internal static IntPtr Symbol(IntPtr module, string name)
            {
                if (Host == Platform.Windows)
                    return GetProcAddress(module, name);
                return Host == Platform.MacOS ? DlsymMac(module, name) : DlsymElf(module, name);
            }
        }

        // A partly copied module kills the process inside the loader (SIGBUS) instead of
        // failing, so its size is held against what its own headers name first.
        static string Truncated(string path)
        {
            if (path.IndexOfAny(new[] { '/', '\\' }) < 0)
                return null; // a bare name is the loader's to look up
            byte[] file;
            try
            {
                // Headers sit in the first pages; a module larger than this is read in part.
                using (var f = System.IO.File.OpenRead(path))
                {
                    long size = f.Length;
                    file = new byte[(int)Math.Min(size, 1 << 20)];
                    int got = 0, n;
                    while (got < file.Length && (n = f.Read(file, got, file.Length - got)) > 0)
                        got += n;
                    long need = HeaderExtent(file, size);
                    return need > size ? string.Format("truncated: {0} bytes, headers need {1}", size, need) : null;
                }
            }
            catch (System.IO.IOException)
            {
                return null; // the loader says why
            }
            catch (UnauthorizedAccessException)
            {
                return null;
            }
        }

        // The bytes the headers say the file holds (ELF program headers, PE sections, Mach-O
        // segments), or 0 for a file in none of these forms. head: the file's first bytes.
        static long HeaderExtent(byte[] head, long size)
        {
            long need = 0;
            bool le = true;
            Func<long, int, ulong> at = (off, n) =>
            {
                ulong v = 0;
                for (int i = 0; i < n; i++)
                    v |= (ulong)head[off + (le ? i : n - 1 - i)] << (8 * i);
                return v;
            };
            Func<long, bool> grow = (n) => { need = Math.Max(need, n); return size >= n && n <= head.Length; };
            if (head.Length < 8)
                return 0;
            if (head[0] == 0x7f && head[1] == (byte)'E' && head[2] == (byte)'L' && head[3] == (byte)'F')
            {
                bool wide = head[4] == 2;
                le = head[5] == 1;
                if (!grow(wide ? 64 : 52))
                    return need;
                long phoff = (long)at(wide ? 32 : 28, wide ? 8 : 4);
                long entry = (long)at(wide ? 54 : 42, 2), count = (long)at(wide ? 56 : 44, 2);
                if (!grow(phoff + entry * count))
                    return need;
                for (long i = 0; i < count; i++)
                {
                    long o = phoff + i * entry;
                    grow((long)at(o + (wide ? 8 : 4), wide ? 8 : 4) + (long)at(o + (wide ? 32 : 16), wide ? 8 : 4));
                }
                return need;
            }
            if (head[0] == (byte)'M' && head[1] == (byte)'Z')
            {
                if (!grow(64))
                    return need;
                long pe = (long)at(0x3c, 4);
                if (!grow(pe + 24))
                    return need;
                if (at(pe, 4) != 0x00004550)
                    return 0;
                long count = (long)at(pe + 6, 2), table = pe + 24 + (long)at(pe + 20, 2);
                if (!grow(table + 40 * count))
                    return need;
                for (long i = 0; i < count; i++)
                {
                    long raw = (long)at(table + i * 40 + 16, 4);
                    if (raw != 0)
                        grow((long)at(table + i * 40 + 20, 4) + raw);
                }
                return need;
            }
            if (head[0] == 0xca && head[1] == 0xfe && head[2] == 0xba && head[3] == 0xbe)
            {
                le = false;
                long count = (long)at(4, 4);
                if (!grow(8 + 20 * count))
                    return need;
                for (long i = 0; i < count; i++)
                    grow((long)at(8 + i * 20 + 8, 4) + (long)at(8 + i * 20 + 12, 4));
                return need;
            }
            ulong magic = at(0, 4);
            bool mwide = magic == 0xfeedfacf || magic == 0xcffaedfe;
            if (!mwide && magic != 0xfeedface && magic != 0xcefaedfe)
                return 0;
            le = magic == 0xfeedfacf || magic == 0xfeedface;
            long top = mwide ? 32 : 28;
            if (!grow(top))
                return need;
            long ncmds = (long)at(16, 4), length = (long)at(20, 4);
            if (!grow(top + length))
                return need;
            for (long i = 0, o = top; i < ncmds && o + 8 <= top + length; i++)
            {
                ulong cmd = at(o, 4);
                long cmdsize = (long)at(o + 4, 4);
                if (cmd == 0x19 && o + 56 <= top + length)
                    grow((long)at(o + 40, 8) + (long)at(o + 48, 8));
                else if (cmd == 0x1 && o + 40 <= top + length)
                    grow((long)at(o + 32, 4) + (long)at(o + 36, 4));
                if (cmdsize < 8)
                    break;
                o += cmdsize;
            }
            return need;
        }

        // The producing calls take NUL-terminated buffers (null: C's NULL), made by Terminated.
        static unsafe IntPtr NativeUrl(byte[] baseUrl, byte[] query)
        {
            Functions api = Api;
            fixed (byte* b = baseUrl)
            fixed (byte* q = query)
                return api.Url(b, q);
        }

        static unsafe IntPtr NativeFilter(byte[] tracks, byte[] query, bool downloadedOnly,
            byte[] downloaded, SortMode sort)
        {
            Functions api = Api;
            fixed (byte* t = tracks)
            fixed (byte* q = query)
            fixed (byte* d = downloaded)
                return api.Filter(t, q, downloadedOnly ? 1 : 0, d, (int)sort);
        }

        static readonly byte[] EmptyText = { 0 };

        // The normalize call reads exactly the given bytes: no terminator and so no copy.
        static unsafe IntPtr NativeNormalize(ReadOnlySpan<byte> json, bool isNull)
        {
            Functions api = Api;
            // Length 0 makes the module read up to a NUL: give the empty text one.
            ReadOnlySpan<byte> text = json.Length == 0 ? new ReadOnlySpan<byte>(EmptyText) : json;
            fixed (byte* p = &MemoryMarshal.GetReference(text))
                return api.Normalize(isNull ? null : p, new UIntPtr((uint)json.Length));
        }
        /// <summary>The module's version text, e.g. "1.0.0" (owned by the module).</summary>
        public static string Version
        {
            get { return FromUtf8(Api.Version()); }
        }

        public static int AbiVersion
        {
            get { return Api.AbiVersion(); }
        }

        /// <summary>The calling thread's last-error text ("" when none).</summary>
        public static string LastError
        {
            get { return FromUtf8(Api.LastError()); }
        }

        /// <summary>Throws when the loaded module speaks another ABI than this wrapper.</summary>
        public static void CheckAbi()
        {
            int abi = Api.AbiVersion();
            if (abi != ExpectedAbiVersion)
                throw new InvalidOperationException(string.Format(
                    "{0}: module ABI {1}, this wrapper needs {2}", FileName, abi, ExpectedAbiVersion));
        }

        /// <summary>0 when the built-in checks pass, 1 (URL) or 2 (ordering) otherwise.</summary>
        public static int SelfTest()
        {
            return Api.SelfTest();
        }

        // ---- Search URL: base URL + /search/api?q= + encoded query + &format=json. The base is
        // checked before the query, in the C signature's order. A null or
        // empty base means the default base. With a string result, a base given as bytes must
        // be UTF-8 (the module copies it as it is); the *Bytes results take any bytes.

        public static string SearchUrl(string query, string baseUrl = null)
        {
            return TakeString(UrlFunction, UrlCall(query, baseUrl)());
        }

        public static string SearchUrl(byte[] query, byte[] baseUrl = null)
        {
            return TakeString(UrlFunction, NativeUrl(query, baseUrl, true));
        }

        public static string SearchUrl(ReadOnlySpan<byte> query, ReadOnlySpan<byte> baseUrl = default)
        {
            return TakeString(UrlFunction, NativeUrl(query, baseUrl, true));
        }

        public static string SearchUrl(ReadOnlyMemory<byte> query, ReadOnlyMemory<byte> baseUrl = default)
        {
            return SearchUrl(query.Span, baseUrl.Span);
        }

        public static byte[] SearchUrlBytes(string query, string baseUrl = null)
        {
            return TakeBytes(UrlFunction, UrlCall(query, baseUrl)());
        }

        public static byte[] SearchUrlBytes(byte[] query, byte[] baseUrl = null)
        {
            return TakeBytes(UrlFunction, NativeUrl(query, baseUrl, false));
        }

        public static byte[] SearchUrlBytes(ReadOnlySpan<byte> query, ReadOnlySpan<byte> baseUrl = default)
        {
            return TakeBytes(UrlFunction, NativeUrl(query, baseUrl, false));
        }

        public static byte[] SearchUrlBytes(ReadOnlyMemory<byte> query, ReadOnlyMemory<byte> baseUrl = default)
        {
            return SearchUrlBytes(query.Span, baseUrl.Span);
        }

        public static Task<string> SearchUrlAsync(string query, string baseUrl = null)
        {
            var call = UrlCall(query, baseUrl);
            return Task.Run(() => TakeString(UrlFunction, call()));
        }

        public static Task<string> SearchUrlAsync(ReadOnlyMemory<byte> query, ReadOnlyMemory<byte> baseUrl = default)
        {
            var call = UrlCall(query, baseUrl, true);
            return Task.Run(() => TakeString(UrlFunction, call()));
        }

        public static Task<byte[]> SearchUrlBytesAsync(string query, string baseUrl = null)
        {
            var call = UrlCall(query, baseUrl);
            return Task.Run(() => TakeBytes(UrlFunction, call()));
        }

        public static Task<byte[]> SearchUrlBytesAsync(ReadOnlyMemory<byte> query, ReadOnlyMemory<byte> baseUrl = default)
        {
            var call = UrlCall(query, baseUrl, false);
            return Task.Run(() => TakeBytes(UrlFunction, call()));
        }

        // The *Call helpers check on the calling thread and return the call itself, so that a
        // Task variant refuses a bad argument before it starts and copies the text inside it.
        static Func<IntPtr> UrlCall(string query, string baseUrl)
        {
            CheckText(baseUrl, "baseUrl");
            CheckText(query, "query");
            return () => NativeUrl(Terminated(baseUrl), Terminated(query));
        }

        static Func<IntPtr> UrlCall(ReadOnlyMemory<byte> query, ReadOnlyMemory<byte> baseUrl, bool utf8Base)
        {
            CheckBytes(baseUrl.Span, "baseUrl", utf8Base);
            CheckBytes(query.Span, "query", false);
            return () => NativeUrl(Copy(baseUrl.Span), Copy(query.Span));
        }

        // A null array is C's NULL; a span is never NULL.
        static IntPtr NativeUrl(byte[] query, byte[] baseUrl, bool utf8Base)
        {
            byte[] b = Terminated(baseUrl, "baseUrl", utf8Base);
            return NativeUrl(b, Terminated(query, "query", false));
        }

        static IntPtr NativeUrl(ReadOnlySpan<byte> query, ReadOnlySpan<byte> baseUrl, bool utf8Base)
        {
            byte[] b = Terminated(baseUrl, "baseUrl", utf8Base);
            return NativeUrl(b, Terminated(query, "query", false));
        }

        // ---- Track lists: the kept tracks of a JSON array, as compact JSON.

        public static string FilterTracks(string tracksJson, string query = null,
            bool downloadedOnly = false, string downloadedJson = null, SortMode sort = SortMode.None)
        {
            return TakeString(FilterFunction, FilterCall(tracksJson, query, downloadedOnly, downloadedJson, sort)());
        }

        public static string FilterTracks(byte[] tracksJson, byte[] query = null,
            bool downloadedOnly = false, byte[] downloadedJson = null, SortMode sort = SortMode.None)
        {
            return TakeString(FilterFunction, FilterBytes(tracksJson, query, downloadedOnly, downloadedJson, sort));
        }

        public static string FilterTracks(ReadOnlySpan<byte> tracksJson, ReadOnlySpan<byte> query = default,
            bool downloadedOnly = false, ReadOnlySpan<byte> downloadedJson = default, SortMode sort = SortMode.None)
        {
            return TakeString(FilterFunction, FilterSpans(tracksJson, query, downloadedOnly, downloadedJson, sort));
        }

        public static string FilterTracks(ReadOnlyMemory<byte> tracksJson, ReadOnlyMemory<byte> query = default,
            bool downloadedOnly = false, ReadOnlyMemory<byte> downloadedJson = default, SortMode sort = SortMode.None)
        {
            return FilterTracks(tracksJson.Span, query.Span, downloadedOnly, downloadedJson.Span, sort);
        }

        public static byte[] FilterTracksBytes(string tracksJson, string query = null,
            bool downloadedOnly = false, string downloadedJson = null, SortMode sort = SortMode.None)
        {
            return TakeBytes(FilterFunction, FilterCall(tracksJson, query, downloadedOnly, downloadedJson, sort)());
        }

        public static byte[] FilterTracksBytes(byte[] tracksJson, byte[] query = null,
            bool downloadedOnly = false, byte[] downloadedJson = null, SortMode sort = SortMode.None)
        {
            return TakeBytes(FilterFunction, FilterBytes(tracksJson, query, downloadedOnly, downloadedJson, sort));
        }

        public static byte[] FilterTracksBytes(ReadOnlySpan<byte> tracksJson, ReadOnlySpan<byte> query = default,
            bool downloadedOnly = false, ReadOnlySpan<byte> downloadedJson = default, SortMode sort = SortMode.None)
        {
            return TakeBytes(FilterFunction, FilterSpans(tracksJson, query, downloadedOnly, downloadedJson, sort));
        }

        public static byte[] FilterTracksBytes(ReadOnlyMemory<byte> tracksJson, ReadOnlyMemory<byte> query = default,
            bool downloadedOnly = false, ReadOnlyMemory<byte> downloadedJson = default, SortMode sort = SortMode.None)
        {
            return FilterTracksBytes(tracksJson.Span, query.Span, downloadedOnly, downloadedJson.Span, sort);
        }

        public static Task<string> FilterTracksAsync(string tracksJson, string query = null,
            bool downloadedOnly = false, string downloadedJson = null, SortMode sort = SortMode.None)
        {
            var call = FilterCall(tracksJson, query, downloadedOnly, downloadedJson, sort);
            return Task.Run(() => TakeString(FilterFunction, call()));
        }

        public static Task<string> FilterTracksAsync(ReadOnlyMemory<byte> tracksJson, ReadOnlyMemory<byte> query = default,
            bool downloadedOnly = false, ReadOnlyMemory<byte> downloadedJson = default, SortMode sort = SortMode.None)
        {
            var call = FilterCall(tracksJson, query, downloadedOnly, downloadedJson, sort);
            return Task.Run(() => TakeString(FilterFunction, call()));
        }

        public static Task<byte[]> FilterTracksBytesAsync(string tracksJson, string query = null,
            bool downloadedOnly = false, string downloadedJson = null, SortMode sort = SortMode.None)
        {
            var call = FilterCall(tracksJson, query, downloadedOnly, downloadedJson, sort);
            return Task.Run(() => TakeBytes(FilterFunction, call()));
        }

        public static Task<byte[]> FilterTracksBytesAsync(ReadOnlyMemory<byte> tracksJson, ReadOnlyMemory<byte> query = default,
            bool downloadedOnly = false, ReadOnlyMemory<byte> downloadedJson = default, SortMode sort = SortMode.None)
        {
            var call = FilterCall(tracksJson, query, downloadedOnly, downloadedJson, sort);
            return Task.Run(() => TakeBytes(FilterFunction, call()));
        }

        static Func<IntPtr> FilterCall(string tracksJson, string query, bool downloadedOnly,
            string downloadedJson, SortMode sort)
        {
            CheckText(tracksJson, "tracksJson");
            CheckText(query, "query");
            CheckText(downloadedJson, "downloadedJson");
            return () => NativeFilter(Terminated(tracksJson), Terminated(query), downloadedOnly,
                Terminated(downloadedJson), sort);
        }

        static Func<IntPtr> FilterCall(ReadOnlyMemory<byte> tracksJson, ReadOnlyMemory<byte> query,
            bool downloadedOnly, ReadOnlyMemory<byte> downloadedJson, SortMode sort)
        {
            CheckBytes(tracksJson.Span, "tracksJson", false);
            CheckBytes(query.Span, "query", false);
            CheckBytes(downloadedJson.Span, "downloadedJson", false);
            return () => NativeFilter(Copy(tracksJson.Span), Copy(query.Span), downloadedOnly,
                Copy(downloadedJson.Span), sort);
        }

        static IntPtr FilterBytes(byte[] tracksJson, byte[] query, bool downloadedOnly,
            byte[] downloadedJson, SortMode sort)
        {
            return NativeFilter(Terminated(tracksJson, "tracksJson", false), Terminated(query, "query", false),
                downloadedOnly, Terminated(downloadedJson, "downloadedJson", false), sort);
        }

        static IntPtr FilterSpans(ReadOnlySpan<byte> tracksJson, ReadOnlySpan<byte> query, bool downloadedOnly,
            ReadOnlySpan<byte> downloadedJson, SortMode sort)
        {
            return NativeFilter(Terminated(tracksJson, "tracksJson", false), Terminated(query, "query", false),
                downloadedOnly, Terminated(downloadedJson, "downloadedJson", false), sort);
        }

        // ---- Unified results reshaped into their flat form, as JSON.

        public static string Normalize(string json)
        {
            return TakeString(NormalizeFunction, NormalizeCall(json)());
        }

        public static string Normalize(byte[] json)
        {
            return TakeString(NormalizeFunction, NativeNormalize(json));
        }

        public static string Normalize(ReadOnlySpan<byte> json)
        {
            return TakeString(NormalizeFunction, NativeNormalize(json));
        }

        public static string Normalize(ReadOnlyMemory<byte> json)
        {
            return Normalize(json.Span);
        }

        public static byte[] NormalizeBytes(string json)
        {
            return TakeBytes(NormalizeFunction, NormalizeCall(json)());
        }

        public static byte[] NormalizeBytes(byte[] json)
        {
            return TakeBytes(NormalizeFunction, NativeNormalize(json));
        }

        public static byte[] NormalizeBytes(ReadOnlySpan<byte> json)
        {
            return TakeBytes(NormalizeFunction, NativeNormalize(json));
        }

        public static byte[] NormalizeBytes(ReadOnlyMemory<byte> json)
        {
            return NormalizeBytes(json.Span);
        }

        public static Task<string> NormalizeAsync(string json)
        {
            var call = NormalizeCall(json);
            return Task.Run(() => TakeString(NormalizeFunction, call()));
        }

        public static Task<string> NormalizeAsync(ReadOnlyMemory<byte> json)
        {
            var call = NormalizeCall(json);
            return Task.Run(() => TakeString(NormalizeFunction, call()));
        }

        public static Task<byte[]> NormalizeBytesAsync(string json)
        {
            var call = NormalizeCall(json);
            return Task.Run(() => TakeBytes(NormalizeFunction, call()));
        }

        public static Task<byte[]> NormalizeBytesAsync(ReadOnlyMemory<byte> json)
        {
            var call = NormalizeCall(json);
            return Task.Run(() => TakeBytes(NormalizeFunction, call()));
        }

        static Func<IntPtr> NormalizeCall(string json)
        {
            CheckText(json, "json");
            return () => json == null ? NativeNormalize(default(ReadOnlySpan<byte>), true)
                : NativeNormalize(Encoding.UTF8.GetBytes(json), false);
        }

        static Func<IntPtr> NormalizeCall(ReadOnlyMemory<byte> json)
        {
            CheckBytes(json.Span, "json", false);
            return () => NativeNormalize(json.Span, false);
        }

        static IntPtr NativeNormalize(byte[] json)
        {
            CheckBytes(json, "json", false);
            return NativeNormalize(json, json == null);
        }

        static IntPtr NativeNormalize(ReadOnlySpan<byte> json)
        {
            CheckBytes(json, "json", false);
            return NativeNormalize(json, false);
        }

        // ---- Input rules, checked before any call.

        static readonly UTF8Encoding StrictUtf8 = new UTF8Encoding(false, true);

        static void CheckText(string s, string parameter)
        {
            CheckWellFormed(s, parameter);
            int nul = s == null ? -1 : s.IndexOf('\0');
            if (nul >= 0)
                throw new ArgumentException(string.Format("{0}: embedded NUL at byte {1}", parameter,
                    Encoding.UTF8.GetByteCount(s.Substring(0, nul))), parameter);
        }

        // UTF-8 cannot carry a lone surrogate: encoding would put U+FFFD in its place.
        // The offset counts characters (code points), as every binding does.
        static void CheckWellFormed(string s, string parameter)
        {
            if (s == null)
                return;
            try
            {
                StrictUtf8.GetByteCount(s);
                return;
            }
            catch (EncoderFallbackException)
            {
            }
            int characters = 0;
            for (int i = 0; i < s.Length; i++, characters++)
            {
                if (char.IsHighSurrogate(s[i]) && i + 1 < s.Length && char.IsLowSurrogate(s[i + 1]))
                    i++;
                else if (char.IsSurrogate(s[i]))
                    throw new ArgumentException(string.Format("{0}: not encodable as UTF-8 at character {1}",
                        parameter, characters), parameter);
            }
        }

        static void CheckBytes(ReadOnlySpan<byte> s, string parameter, bool mustBeUtf8)
        {
            int nul = s.IndexOf((byte)0);
            if (nul >= 0)
                throw new ArgumentException(string.Format("{0}: embedded NUL at byte {1}", parameter, nul),
                    parameter);
            int bad = mustBeUtf8 ? InvalidUtf8At(s) : -1;
            if (bad >= 0)
                throw new ArgumentException(string.Format("{0}: not valid UTF-8 at byte {1}", parameter, bad),
                    parameter);
        }

        // Offset of the first byte of the first sequence that is not well-formed UTF-8 (no
        // overlong forms, surrogates or values above U+10FFFF), or -1.
        static int InvalidUtf8At(ReadOnlySpan<byte> s)
        {
            int i = 0;
            while (i < s.Length)
            {
                byte b = s[i];
                int more;
                byte low = 0x80, high = 0xBF;
                if (b < 0x80) { i++; continue; }
                else if (b >= 0xC2 && b <= 0xDF) more = 1;
                else if (b >= 0xE0 && b <= 0xEF)
                {
                    more = 2;
                    if (b == 0xE0) low = 0xA0;
                    else if (b == 0xED) high = 0x9F;
                }
                else if (b >= 0xF0 && b <= 0xF4)
                {
                    more = 3;
                    if (b == 0xF0) low = 0x90;
                    else if (b == 0xF4) high = 0x8F;
                }
                else return i;
                for (int k = 1; k <= more; k++)
                {
                    if (i + k >= s.Length) return i;
                    byte c = s[i + k];
                    if (k == 1 ? (c < low || c > high) : (c < 0x80 || c > 0xBF))
                        return i;
                }
                i += more + 1;
            }
            return -1;
        }

        // NUL-terminated copies for the C call; null stays null (C's NULL).
        static byte[] Terminated(string s)
        {
            if (s == null)
                return null;
            byte[] bytes = new byte[Encoding.UTF8.GetByteCount(s) + 1];
            Encoding.UTF8.GetBytes(s, 0, s.Length, bytes, 0);
            return bytes;
        }

        static byte[] Terminated(ReadOnlySpan<byte> s, string parameter, bool mustBeUtf8)
        {
            CheckBytes(s, parameter, mustBeUtf8);
            return Copy(s);
        }

        static byte[] Terminated(byte[] s, string parameter, bool mustBeUtf8)
        {
            return s == null ? null : Terminated(new ReadOnlySpan<byte>(s), parameter, mustBeUtf8);
        }

        static byte[] Copy(ReadOnlySpan<byte> s)
        {
            byte[] z = new byte[s.Length + 1];
            s.CopyTo(z);
            return z;
        }

        // ---- Results. Each must run on the calling thread, right after the call: the
        // last-error text is per thread and the next call changes it.

        static void Refuse(string function)
        {
            string why = FromUtf8(Api.LastError());
            if (why.Length > 0)
                throw new NtsrchException(function, why);
            throw new OutOfMemoryException(function + ": out of memory");
        }

        static unsafe string TakeString(string function, IntPtr p)
        {
            if (p == IntPtr.Zero)
                Refuse(function);
            try
            {
                return Encoding.UTF8.GetString((byte*)p, Length(p));
            }
            finally
            {
                Api.Free(p);
            }
        }

        static byte[] TakeBytes(string function, IntPtr p)
        {
            if (p == IntPtr.Zero)
                Refuse(function);
            try
            {
                byte[] bytes = new byte[Length(p)];
                Marshal.Copy(p, bytes, 0, bytes.Length);
                return bytes;
            }
            finally
            {
                Api.Free(p);
            }
        }

        static unsafe int Length(IntPtr p)
        {
            return new ReadOnlySpan<byte>((void*)p, int.MaxValue).IndexOf((byte)0);
        }

        static unsafe string FromUtf8(IntPtr p)
        {
            return Encoding.UTF8.GetString((byte*)p, Length(p));
        }
    }
}
