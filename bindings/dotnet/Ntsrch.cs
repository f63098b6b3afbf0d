// SPDX-License-Identifier: MIT
// .NET binding of the ntsrch search client module (P/Invoke). C# 6: builds with Mono's mcs
// as well as with the .NET SDK.
//
//   string url = Ntsrch.Module.SearchUrl("night skies");
//   string kept = Ntsrch.Module.FilterTracks(tracksJson, "sky", false, null, Ntsrch.SortMode.TitleAsc);
//   string flat = Ntsrch.Module.Normalize(unifiedJson);
//
// Text goes in as NUL-terminated UTF-8 byte arrays and every owned result comes back as a
// raw IntPtr: the text is copied into a string, then the pointer is released with
// ntsrch_free exactly once. A null result is explained by the last-error text, read at once
// on the same thread: a message means the input was refused (NtsrchException, an
// ArgumentException); no message means memory ran out (OutOfMemoryException). Any method
// may be called from any number of threads at once.
using System;
using System.Runtime.InteropServices;
using System.Text;

namespace Ntsrch
{
    /// <summary>Orders of FilterTracks (NTSRCH_SORT_* in the C header).</summary>
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

    public static class Module
    {
        /// <summary>The module's file name, found by the system's library search.</summary>
        public const string FileName = "nortavel-nortaveltune-search-client.so";

        /// <summary>The module ABI this wrapper speaks.</summary>
        public const int ExpectedAbiVersion = 1;

        [DllImport(FileName, CallingConvention = CallingConvention.Cdecl)]
        static extern IntPtr ntsrch_version();

        [DllImport(FileName, CallingConvention = CallingConvention.Cdecl)]
        static extern int ntsrch_abi_version();

        [DllImport(FileName, CallingConvention = CallingConvention.Cdecl)]
        static extern IntPtr ntsrch_last_error();

        [DllImport(FileName, CallingConvention = CallingConvention.Cdecl)]
        static extern void ntsrch_free(IntPtr p);

        [DllImport(FileName, CallingConvention = CallingConvention.Cdecl)]
        static extern IntPtr ntsrch_build_search_url(byte[] baseUrl, byte[] query);

        [DllImport(FileName, CallingConvention = CallingConvention.Cdecl)]
        static extern IntPtr ntsrch_filter_and_sort_tracks_json(byte[] tracksJson, byte[] query,
            int downloadedOnly, byte[] downloadedJson, int sortMode);

        [DllImport(FileName, CallingConvention = CallingConvention.Cdecl)]
        static extern IntPtr ntsrch_normalize_unified_results_json(byte[] json, UIntPtr len);

        [DllImport(FileName, CallingConvention = CallingConvention.Cdecl)]
        static extern int ntsrch_selftest();

        /// <summary>The module's version text, e.g. "1.0.0" (owned by the module).</summary>
        public static string Version
        {
            get { return FromUtf8(ntsrch_version()); }
        }

        public static int AbiVersion
        {
            get { return ntsrch_abi_version(); }
        }

        /// <summary>The calling thread's last-error text ("" when none).</summary>
        public static string LastError
        {
            get { return FromUtf8(ntsrch_last_error()); }
        }

        /// <summary>Throws when the loaded module speaks another ABI than this wrapper.</summary>
        public static void CheckAbi()
        {
            int abi = ntsrch_abi_version();
            if (abi != ExpectedAbiVersion)
                throw new InvalidOperationException(string.Format(
                    "{0}: module ABI {1}, this wrapper needs {2}", FileName, abi, ExpectedAbiVersion));
        }

        /// <summary>0 when the built-in checks pass, 1 (URL) or 2 (ordering) otherwise.</summary>
        public static int SelfTest()
        {
            return ntsrch_selftest();
        }

        /// <summary>The search request URL; a null or empty base means the default base.</summary>
        public static string SearchUrl(string query, string baseUrl = null)
        {
            return Take("ntsrch_build_search_url",
                ntsrch_build_search_url(ToUtf8z(baseUrl), ToUtf8z(query)));
        }

        /// <summary>The kept tracks of a JSON array, as compact JSON text.</summary>
        public static string FilterTracks(string tracksJson, string query = null,
            bool downloadedOnly = false, string downloadedJson = null, SortMode sort = SortMode.None)
        {
            return Take("ntsrch_filter_and_sort_tracks_json",
                ntsrch_filter_and_sort_tracks_json(ToUtf8z(tracksJson), ToUtf8z(query),
                    downloadedOnly ? 1 : 0, ToUtf8z(downloadedJson), (int)sort));
        }

        /// <summary>The unified search result reshaped into its flat form, as JSON text.</summary>
        public static string Normalize(string json)
        {
            byte[] text = ToUtf8z(json);
            // The length excludes the NUL; 0 (empty text) makes the module read up to it.
            UIntPtr len = new UIntPtr(text == null ? 0u : (uint)(text.Length - 1));
            return Take("ntsrch_normalize_unified_results_json",
                ntsrch_normalize_unified_results_json(text, len));
        }

        // Copies and releases an owned result. Must run on the calling thread, right after
        // the call: the last-error text is per thread and the next call changes it.
        static string Take(string function, IntPtr p)
        {
            if (p == IntPtr.Zero)
            {
                string why = FromUtf8(ntsrch_last_error());
                if (why.Length > 0)
                    throw new NtsrchException(function, why);
                throw new OutOfMemoryException(function + ": out of memory");
            }
            try
            {
                return FromUtf8(p);
            }
            finally
            {
                ntsrch_free(p);
            }
        }

        static byte[] ToUtf8z(string s)
        {
            if (s == null)
                return null;
            byte[] bytes = new byte[Encoding.UTF8.GetByteCount(s) + 1];
            Encoding.UTF8.GetBytes(s, 0, s.Length, bytes, 0);
            return bytes;
        }

        static string FromUtf8(IntPtr p)
        {
            int n = 0;
            while (Marshal.ReadByte(p, n) != 0)
                n++;
            byte[] bytes = new byte[n];
            Marshal.Copy(p, bytes, 0, n);
            return Encoding.UTF8.GetString(bytes);
        }
    }
}
