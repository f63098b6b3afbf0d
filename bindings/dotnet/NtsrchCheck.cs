// SPDX-License-Identifier: MIT
// Checks of the .NET wrapper against the real module: every function, every kind of input
// and output, the input rules, the Task variants and several threads. Prints one "pass NAME" or "fail NAME: why" line per check and exits 1
// when any failed.
using System;
using System.Collections.Generic;
using System.Linq;
using System.Text;
using System.Threading;
using System.Threading.Tasks;
using Ntsrch;

static class NtsrchCheck
{
    static int failures;

    static void Check(string name, Func<string> body)
    {
        string why;
        try
        {
            why = body();
        }
        catch (Exception e)
        {
            why = "threw " + e.GetType().Name + ": " + e.Message;
        }
        if (why == null)
        {
            Console.WriteLine("pass dotnet." + name);
        }
        else
        {
            failures++;
            Console.WriteLine("fail dotnet." + name + ": " + why);
        }
    }

    static string Equal(string want, string got)
    {
        return want == got ? null : "want <" + want + ">, got <" + got + ">";
    }

    // null when body throws an NtsrchException carrying the message, else what happened.
    static string Refused(string message, Func<string> body)
    {
        try
        {
            string got = body();
            return "no exception, returned <" + got + ">";
        }
        catch (NtsrchException e)
        {
            if (!(e is ArgumentException))
                return "not an ArgumentException";
            if (e.LastError != message)
                return "message <" + e.LastError + ">, want <" + message + ">";
            return Module.LastError == message ? null : "LastError <" + Module.LastError + ">";
        }
    }

    const string Tracks =
        "[{\"title\":\"Zeta\",\"artist\":\"B\",\"streamURL\":\"u1\",\"duration\":300,\"publishTimestamp\":10}," +
        "{\"title\":\"Alpha\",\"artist\":\"A\",\"streamURL\":\"u2\",\"duration\":120,\"publishTimestamp\":20},7]";

    static int Main(string[] args)
    {
        // The child of module_lookup: what loading the module from this environment gives.
        if (args.Length == 1 && args[0] == "--load-report")
        {
            try
            {
                Console.WriteLine("loaded " + Module.Version);
            }
            catch (DllNotFoundException e)
            {
                Console.WriteLine("not loaded: " + e.Message);
            }
            return 0;
        }
        Check("version", () => Equal("1.0.0", Module.Version));
        Check("abi_version", () =>
        {
            Module.CheckAbi();
            return Module.AbiVersion == Module.ExpectedAbiVersion ? null : "ABI " + Module.AbiVersion;
        });
        Check("selftest", () => Module.SelfTest() == 0 ? null : "selftest failed");
        Check("search_url", () => Equal(
            "https://music.example/search/api?q=%C3%89t%C3%A9%20indien&format=json",
            Module.SearchUrl(" Été indien", "https://music.example//")));
        Check("search_url_default_base", () =>
        {
            string url = Module.SearchUrl("night skies");
            return url.EndsWith("/search/api?q=night%20skies&format=json") && url.StartsWith("https://")
                ? null : "got <" + url + ">";
        });
        Check("filter_sort_modes", () =>
        {
            var cases = new KeyValuePair<SortMode, string>[]
            {
                new KeyValuePair<SortMode, string>(SortMode.None, "ZA"),
                new KeyValuePair<SortMode, string>(SortMode.TitleAsc, "AZ"),
                new KeyValuePair<SortMode, string>(SortMode.ArtistAsc, "AZ"),
                new KeyValuePair<SortMode, string>(SortMode.NewestFirst, "AZ"),
                new KeyValuePair<SortMode, string>(SortMode.ShortestFirst, "AZ"),
                new KeyValuePair<SortMode, string>(SortMode.DownloadedFirst, "ZA"),
            };
            foreach (var c in cases)
            {
                string got = Module.FilterTracks(Tracks, null, false, "[\"u1\"]", c.Key);
                string order = got.IndexOf("Alpha") < got.IndexOf("Zeta") ? "AZ" : "ZA";
                if (order != c.Value)
                    return c.Key + ": " + got;
            }
            return null;
        });
        Check("filter_query_downloaded_only", () => Equal(
            "[{\"title\":\"Zeta\",\"artist\":\"B\",\"streamURL\":\"u1\",\"duration\":300,\"publishTimestamp\":10}]",
            Module.FilterTracks(Tracks, " b ", true, "[\"u1\"]", SortMode.TitleAsc)));
        Check("normalize", () => Equal(
            "{\"localCount\":2,\"catalogueCount\":2,\"local\":[1,\"é\"],\"catalogue\":[\"a\",\"b\"]}",
            Module.Normalize("{\"tracks\":[1,\"é\"],\"catalogue\":{\"artists\":[\"b\"],\"albums\":[\"a\"]}}")));
        Check("input_errors", () =>
        {
            var cases = new KeyValuePair<string, Func<string>>[]
            {
                new KeyValuePair<string, Func<string>>("null query", () => Module.SearchUrl((string)null)),
                new KeyValuePair<string, Func<string>>("null query", () => Module.SearchUrl((byte[])null)),
                new KeyValuePair<string, Func<string>>("empty query", () => Module.SearchUrl(new byte[0])),
                new KeyValuePair<string, Func<string>>("empty query", () => Module.SearchUrl(default(ReadOnlySpan<byte>))),
                new KeyValuePair<string, Func<string>>("empty query", () => Module.SearchUrl(" \t\n")),
                new KeyValuePair<string, Func<string>>("null tracks_json", () => Module.FilterTracks((string)null)),
                new KeyValuePair<string, Func<string>>("null tracks_json", () => Module.FilterTracks((byte[])null)),
                new KeyValuePair<string, Func<string>>("tracks_json must be array", () => Module.FilterTracks("{}")),
                new KeyValuePair<string, Func<string>>("tracks_json must be array", () => Module.FilterTracks(new ReadOnlyMemory<byte>())),
                new KeyValuePair<string, Func<string>>("null json", () => Module.Normalize((string)null)),
                new KeyValuePair<string, Func<string>>("null json", () => Module.Normalize((byte[])null)),
                new KeyValuePair<string, Func<string>>("invalid search json", () => Module.Normalize("")),
                new KeyValuePair<string, Func<string>>("invalid search json", () => Module.Normalize(new byte[0])),
                new KeyValuePair<string, Func<string>>("invalid search json", () => Module.Normalize(default(ReadOnlySpan<byte>))),
                new KeyValuePair<string, Func<string>>("invalid search json", () => Module.Normalize(Utf8("{\"tracks\":[]}").AsMemory(0, 12))),
                new KeyValuePair<string, Func<string>>("invalid search json", () => Module.Normalize("{} x")),
            };
            foreach (var c in cases)
            {
                string why = Refused(c.Key, c.Value);
                if (why != null)
                    return c.Key + ": " + why;
            }
            Module.SearchUrl("ok");
            return Equal("", Module.LastError);
        });
        Check("threads_keep_their_own_last_error", () =>
        {
            const int threads = 8, rounds = 2000;
            string[] problems = new string[threads];
            var workers = new Thread[threads];
            for (int t = 0; t < threads; t++)
            {
                int id = t;
                workers[t] = new Thread(() =>
                {
                    string message = id % 2 == 0 ? "empty query" : "tracks_json must be array";
                    for (int i = 0; i < rounds && problems[id] == null; i++)
                    {
                        problems[id] = id % 2 == 0
                            ? Refused(message, () => Module.SearchUrl("   "))
                            : Refused(message, () => Module.FilterTracks("[", "x"));
                        if (problems[id] != null)
                            break;
                        string url = Module.SearchUrl("t" + id + " " + i, "https://h");
                        if (url != "https://h/search/api?q=t" + id + "%20" + i + "&format=json")
                            problems[id] = "url <" + url + ">";
                        else if (Module.LastError != "")
                            problems[id] = "message left after success: " + Module.LastError;
                    }
                });
                workers[t].Start();
            }
            foreach (var w in workers)
                w.Join();
            for (int t = 0; t < threads; t++)
                if (problems[t] != null)
                    return "thread " + t + ": " + problems[t];
            return null;
        });
        InputKinds();
        InputRules();
        AsyncVariants();
        ModuleLookup();
        return failures == 0 ? 0 : 1;
    }

    // $NTSRCH_MODULE alone decides, in a child process each: the runtime binds the module
    // once per process. [what the variable names, with the system path kept, start of the
    // child's line]
    static void ModuleLookup()
    {
        string loaded = null;
        if (System.IO.File.Exists("/proc/self/maps"))
            foreach (string line in System.IO.File.ReadAllLines("/proc/self/maps"))
                if (line.EndsWith("/" + Module.FileName))
                    loaded = line.Substring(line.IndexOf('/'));
        if (loaded == null)
        {
            Console.WriteLine("skip dotnet.module_lookup: no /proc/self/maps to find the module file in");
            return;
        }
        string dir = System.IO.Path.Combine(System.IO.Path.GetTempPath(), "ntsrch-dotnet-" + Guid.NewGuid().ToString("N"));
        System.IO.Directory.CreateDirectory(dir);
        try
        {
            byte[] whole = System.IO.File.ReadAllBytes(loaded);
            string cut = System.IO.Path.Combine(dir, "cut", Module.FileName);
            string copy = System.IO.Path.Combine(dir, "whole", Module.FileName);
            System.IO.Directory.CreateDirectory(System.IO.Path.GetDirectoryName(cut));
            System.IO.Directory.CreateDirectory(System.IO.Path.GetDirectoryName(copy));
            System.IO.File.WriteAllBytes(cut, whole.Take(5000).ToArray());
            System.IO.File.WriteAllBytes(copy, whole);
            string missing = System.IO.Path.Combine(dir, "none", Module.FileName);
            var rows = new[]
            {
                Tuple.Create("truncated", cut, true, "not loaded: could not load " + Module.FileName + "; tried:\n  "
                    + cut + " ($NTSRCH_MODULE): truncated: 5000 bytes, headers need "),
                Tuple.Create("missing_no_fallback", missing, true, "not loaded: could not load " + Module.FileName
                    + "; tried:\n  " + missing + " ($NTSRCH_MODULE): "),
                Tuple.Create("whole_copy_alone", copy, false, "loaded 1.0.0"),
            };
            foreach (var r in rows)
            {
                var row = r;
                Check("module_lookup." + row.Item1, () =>
                {
                    var start = new System.Diagnostics.ProcessStartInfo(
                        System.Diagnostics.Process.GetCurrentProcess().MainModule.FileName,
                        "\"" + System.Reflection.Assembly.GetEntryAssembly().Location + "\" --load-report")
                    { UseShellExecute = false, RedirectStandardOutput = true };
                    start.EnvironmentVariables["NTSRCH_MODULE"] = row.Item2;
                    if (!row.Item3)
                        start.EnvironmentVariables.Remove("LD_LIBRARY_PATH");
                    using (var child = System.Diagnostics.Process.Start(start))
                    {
                        string output = child.StandardOutput.ReadToEnd();
                        child.WaitForExit();
                        return output.StartsWith(row.Item4) ? null : "got <" + output.TrimEnd() + ">, want <" + row.Item4 + "...>";
                    }
                });
            }
        }
        finally
        {
            System.IO.Directory.Delete(dir, true);
        }
    }

    static byte[] Utf8(string s)
    {
        return Encoding.UTF8.GetBytes(s);
    }

    static string Hex(byte[] b)
    {
        return b == null ? "null" : BitConverter.ToString(b);
    }

    // Each row: a name, what the string call gives, and what another kind of input or output
    // gives for the same text (bytes results compared as UTF-8).
    static void InputKinds()
    {
        const string unified = "{\"tracks\":[1,\"é\"],\"catalogue\":{\"artists\":[\"b\"],\"albums\":[\"a\"]}}";
        string url = Module.SearchUrl("Été x", "https://h.example/");
        string kept = Module.FilterTracks(Tracks, "a", true, "[\"u2\"]", SortMode.TitleAsc);
        string flat = Module.Normalize(unified);
        byte[] tracks = Utf8(Tracks), query = Utf8("a"), downloaded = Utf8("[\"u2\"]");
        // The text sits inside a larger buffer: only the span's own bytes may be read.
        byte[] padded = Utf8("xx" + unified + "yy");
        var rows = new[]
        {
            Tuple.Create("url_bytes", url, (Func<string>)(() => Module.SearchUrl(Utf8("Été x"), Utf8("https://h.example/")))),
            Tuple.Create("url_span", url, (Func<string>)(() => Module.SearchUrl(new ReadOnlySpan<byte>(Utf8("Été x")), new ReadOnlySpan<byte>(Utf8("https://h.example/"))))),
            Tuple.Create("url_memory", url, (Func<string>)(() => Module.SearchUrl(Utf8("Été x").AsMemory(), Utf8("https://h.example/").AsMemory()))),
            Tuple.Create("url_out_bytes", url, (Func<string>)(() => Encoding.UTF8.GetString(Module.SearchUrlBytes("Été x", "https://h.example/")))),
            Tuple.Create("url_bytes_out_bytes", url, (Func<string>)(() => Encoding.UTF8.GetString(Module.SearchUrlBytes(Utf8("Été x"), Utf8("https://h.example/"))))),
            Tuple.Create("url_memory_out_bytes", url, (Func<string>)(() => Encoding.UTF8.GetString(Module.SearchUrlBytes(Utf8("Été x").AsMemory(), Utf8("https://h.example/").AsMemory())))),
            Tuple.Create("filter_bytes", kept, (Func<string>)(() => Module.FilterTracks(tracks, query, true, downloaded, SortMode.TitleAsc))),
            Tuple.Create("filter_span", kept, (Func<string>)(() => Module.FilterTracks(new ReadOnlySpan<byte>(tracks), query.AsSpan(), true, downloaded.AsSpan(), SortMode.TitleAsc))),
            Tuple.Create("filter_memory", kept, (Func<string>)(() => Module.FilterTracks(tracks.AsMemory(), query.AsMemory(), true, downloaded.AsMemory(), SortMode.TitleAsc))),
            Tuple.Create("filter_out_bytes", kept, (Func<string>)(() => Encoding.UTF8.GetString(Module.FilterTracksBytes(Tracks, "a", true, "[\"u2\"]", SortMode.TitleAsc)))),
            Tuple.Create("filter_bytes_out_bytes", kept, (Func<string>)(() => Encoding.UTF8.GetString(Module.FilterTracksBytes(tracks, query, true, downloaded, SortMode.TitleAsc)))),
            Tuple.Create("filter_span_out_bytes", kept, (Func<string>)(() => Encoding.UTF8.GetString(Module.FilterTracksBytes(tracks.AsSpan(), query.AsSpan(), true, downloaded.AsSpan(), SortMode.TitleAsc)))),
            Tuple.Create("normalize_bytes", flat, (Func<string>)(() => Module.Normalize(Utf8(unified)))),
            Tuple.Create("normalize_span_inside_buffer", flat, (Func<string>)(() => Module.Normalize(new ReadOnlySpan<byte>(padded, 2, padded.Length - 4)))),
            Tuple.Create("normalize_memory_inside_buffer", flat, (Func<string>)(() => Module.Normalize(padded.AsMemory(2, padded.Length - 4)))),
            Tuple.Create("normalize_out_bytes", flat, (Func<string>)(() => Encoding.UTF8.GetString(Module.NormalizeBytes(unified)))),
            Tuple.Create("normalize_bytes_out_bytes", flat, (Func<string>)(() => Encoding.UTF8.GetString(Module.NormalizeBytes(Utf8(unified))))),
            Tuple.Create("normalize_memory_out_bytes", flat, (Func<string>)(() => Encoding.UTF8.GetString(Module.NormalizeBytes(padded.AsMemory(2, padded.Length - 4))))),
        };
        Check("input_kinds_base", () => Equal("https://h.example/search/api?q=%C3%89t%C3%A9%20x&format=json", url)
            ?? Equal("[{\"title\":\"Alpha\",\"artist\":\"A\",\"streamURL\":\"u2\",\"duration\":120,\"publishTimestamp\":20}]", kept));
        foreach (var r in rows)
        {
            var row = r;
            Check("input_kinds." + row.Item1, () => Equal(row.Item2, row.Item3()));
        }
        Check("module_file_name", () => Equal(
            System.Runtime.InteropServices.RuntimeInformation.IsOSPlatform(System.Runtime.InteropServices.OSPlatform.Linux)
                ? "nortavel-nortaveltune-search-client.so" : Module.FileName, Module.FileName));
    }

    // null when body throws ArgumentException (not the module's NtsrchException) for the
    // parameter with the message, before any call: the last-error text of the refused call
    // made first must still be there.
    static string RefusedBeforeCall(string parameter, string message, Action body)
    {
        try
        {
            Module.SearchUrl("   ");
        }
        catch (NtsrchException)
        {
        }
        try
        {
            body();
            return "no exception";
        }
        catch (NtsrchException e)
        {
            return "the module was called: " + e.Message;
        }
        catch (ArgumentException e)
        {
            if (e.ParamName != parameter)
                return "parameter <" + e.ParamName + ">, want <" + parameter + ">";
            if (!e.Message.StartsWith(parameter + ": " + message))
                return "message <" + e.Message + ">, want <" + parameter + ": " + message + ">";
            return Module.LastError == "empty query" ? null : "a call was made: last error <" + Module.LastError + ">";
        }
    }

    static void InputRules()
    {
        byte[] nulTracks = Utf8("[{\"title\":\"a\"}]\0junk");
        byte[] nulQuery = Utf8("é\0b");
        byte[] good = Utf8("[]");
        var nul = new[]
        {
            // Offsets count UTF-8 bytes: "é" is two.
            Tuple.Create("url_string_query", "query", "embedded NUL at byte 2", (Action)(() => Module.SearchUrl("é\0b"))),
            Tuple.Create("url_string_base", "baseUrl", "embedded NUL at byte 0", (Action)(() => Module.SearchUrl("q", "\0https://h"))),
            Tuple.Create("url_bytes_query", "query", "embedded NUL at byte 2", (Action)(() => Module.SearchUrl(nulQuery))),
            Tuple.Create("url_span_base", "baseUrl", "embedded NUL at byte 1", (Action)(() => Module.SearchUrl(good.AsSpan(), Utf8("h\0").AsSpan()))),
            Tuple.Create("url_memory_query_out_bytes", "query", "embedded NUL at byte 2", (Action)(() => Module.SearchUrlBytes(nulQuery.AsMemory()))),
            Tuple.Create("url_string_query_out_bytes", "query", "embedded NUL at byte 3", (Action)(() => Module.SearchUrlBytes("abc\0"))),
            Tuple.Create("filter_string_tracks", "tracksJson", "embedded NUL at byte 15", (Action)(() => Module.FilterTracks("[{\"title\":\"a\"}]\0junk"))),
            Tuple.Create("filter_string_query", "query", "embedded NUL at byte 2", (Action)(() => Module.FilterTracks("[]", "é\0b"))),
            Tuple.Create("filter_string_downloaded", "downloadedJson", "embedded NUL at byte 1", (Action)(() => Module.FilterTracks("[]", null, true, "[\0]"))),
            Tuple.Create("filter_bytes_tracks", "tracksJson", "embedded NUL at byte 15", (Action)(() => Module.FilterTracks(nulTracks))),
            Tuple.Create("filter_bytes_downloaded", "downloadedJson", "embedded NUL at byte 5", (Action)(() => Module.FilterTracks(good, null, false, Utf8("[\"u\",\0]")))),
            Tuple.Create("filter_span_query", "query", "embedded NUL at byte 2", (Action)(() => Module.FilterTracks(good.AsSpan(), nulQuery.AsSpan()))),
            Tuple.Create("filter_memory_tracks_out_bytes", "tracksJson", "embedded NUL at byte 15", (Action)(() => Module.FilterTracksBytes(nulTracks.AsMemory()))),
            Tuple.Create("normalize_string", "json", "embedded NUL at byte 13", (Action)(() => Module.Normalize("{\"tracks\":[]}\0"))),
            Tuple.Create("normalize_bytes", "json", "embedded NUL at byte 0", (Action)(() => Module.Normalize(new byte[] { 0 }))),
            Tuple.Create("normalize_span", "json", "embedded NUL at byte 15", (Action)(() => Module.Normalize(nulTracks.AsSpan()))),
            Tuple.Create("normalize_memory_out_bytes", "json", "embedded NUL at byte 15", (Action)(() => Module.NormalizeBytes(nulTracks.AsMemory()))),
            Tuple.Create("normalize_string_out_bytes", "json", "embedded NUL at byte 1", (Action)(() => Module.NormalizeBytes("{\0}"))),
            // A base URL given as bytes must be UTF-8 when the result is a string.
            Tuple.Create("base_not_utf8_ff", "baseUrl", "not valid UTF-8 at byte 0", (Action)(() => Module.SearchUrl(Utf8("q"), new byte[] { 0xFF }))),
            Tuple.Create("base_not_utf8_truncated", "baseUrl", "not valid UTF-8 at byte 2", (Action)(() => Module.SearchUrl(Utf8("q"), new byte[] { 0x68, 0xC3 }))),
            Tuple.Create("base_not_utf8_overlong", "baseUrl", "not valid UTF-8 at byte 1", (Action)(() => Module.SearchUrl(Utf8("q"), new byte[] { 0x68, 0xC0, 0xAF }))),
            Tuple.Create("base_not_utf8_overlong_three_bytes", "baseUrl", "not valid UTF-8 at byte 1", (Action)(() => Module.SearchUrl(Utf8("q"), new byte[] { 0xE0, 0x80, 0xAF }))),
            Tuple.Create("base_not_utf8_surrogate", "baseUrl", "not valid UTF-8 at byte 1", (Action)(() => Module.SearchUrl(Utf8("q").AsSpan(), new byte[] { 0xED, 0xA0, 0x80 }.AsSpan()))),
            Tuple.Create("base_not_utf8_above_max", "baseUrl", "not valid UTF-8 at byte 1", (Action)(() => Module.SearchUrl(Utf8("q").AsMemory(), new byte[] { 0xF4, 0x90, 0x80, 0x80 }.AsMemory()))),
            Tuple.Create("base_not_utf8_bad_continuation", "baseUrl", "not valid UTF-8 at byte 2", (Action)(() => Module.SearchUrl(Utf8("q"), new byte[] { 0xE2, 0x82, 0x41 }))),
        };
        foreach (var r in nul)
        {
            var row = r;
            Check("input_rules." + row.Item1, () => RefusedBeforeCall(row.Item2, row.Item3, row.Item4));
        }
        var accepted = new[]
        {
            // Bytes out take any base; bytes in take any query (it is percent-encoded).
            Tuple.Create("base_any_bytes_out_bytes", "FF-2F-73", (Func<string>)(() => Hex(Module.SearchUrlBytes(Utf8("q"), new byte[] { 0xFF }).Take(3).ToArray()))),
            Tuple.Create("base_utf8_four_bytes", "https://\U0001F3B5/search/api?q=q&format=json", (Func<string>)(() => Module.SearchUrl(Utf8("q"), Utf8("https://\U0001F3B5")))),
            Tuple.Create("query_any_bytes", "https://h/search/api?q=%FF%C0&format=json", (Func<string>)(() => Module.SearchUrl(new byte[] { 0xFF, 0xC0 }, Utf8("https://h")))),
            // Sort modes outside the enum keep input order, as the module does.
            Tuple.Create("sort_99", "ZA", (Func<string>)(() => Order(Module.FilterTracks(Tracks, null, false, null, (SortMode)99)))),
            Tuple.Create("sort_negative", "ZA", (Func<string>)(() => Order(Module.FilterTracks(Tracks, null, false, null, (SortMode)(-1))))),
            Tuple.Create("sort_int_min", "ZA", (Func<string>)(() => Order(Module.FilterTracks(Tracks, null, false, null, (SortMode)int.MinValue)))),
            Tuple.Create("sort_int_max", "ZA", (Func<string>)(() => Order(Module.FilterTracks(Tracks, null, false, null, (SortMode)int.MaxValue)))),
        };
        foreach (var r in accepted)
        {
            var row = r;
            Check("input_rules." + row.Item1, () => Equal(row.Item2, row.Item3()));
        }
    }

    static string Order(string kept)
    {
        return kept.IndexOf("Alpha") < kept.IndexOf("Zeta") ? "AZ" : "ZA";
    }

    // null when the task faults with the module's exact message, else what happened.
    static string Faults(string message, Func<Task> start)
    {
        try
        {
            start().Wait();
            return "no exception";
        }
        catch (AggregateException e)
        {
            var refused = e.InnerException as NtsrchException;
            if (refused == null)
                return "threw " + e.InnerException.GetType().Name + ": " + e.InnerException.Message;
            return refused.LastError == message ? null : "message <" + refused.LastError + ">, want <" + message + ">";
        }
    }

    static void AsyncVariants()
    {
        const string unified = "{\"tracks\":[1],\"catalogue\":{\"albums\":[\"a\"]}}";
        byte[] tracks = Utf8(Tracks);
        var same = new[]
        {
            Tuple.Create("url", Module.SearchUrl("night skies", "https://h"), (Func<string>)(() => Module.SearchUrlAsync("night skies", "https://h").Result)),
            Tuple.Create("url_memory", Module.SearchUrl("night skies", "https://h"), (Func<string>)(() => Module.SearchUrlAsync(Utf8("night skies"), Utf8("https://h")).Result)),
            Tuple.Create("url_out_bytes", Module.SearchUrl("é"), (Func<string>)(() => Encoding.UTF8.GetString(Module.SearchUrlBytesAsync("é").Result))),
            Tuple.Create("url_memory_out_bytes", Module.SearchUrl("é"), (Func<string>)(() => Encoding.UTF8.GetString(Module.SearchUrlBytesAsync(Utf8("é").AsMemory()).Result))),
            Tuple.Create("filter", Module.FilterTracks(Tracks, "a", false, null, SortMode.TitleAsc), (Func<string>)(() => Module.FilterTracksAsync(Tracks, "a", false, null, SortMode.TitleAsc).Result)),
            Tuple.Create("filter_memory", Module.FilterTracks(Tracks, null, true, "[\"u1\"]"), (Func<string>)(() => Module.FilterTracksAsync(tracks, default, true, Utf8("[\"u1\"]")).Result)),
            Tuple.Create("filter_out_bytes", Module.FilterTracks(Tracks, null, false, null, SortMode.NewestFirst), (Func<string>)(() => Encoding.UTF8.GetString(Module.FilterTracksBytesAsync(Tracks, null, false, null, SortMode.NewestFirst).Result))),
            Tuple.Create("filter_memory_out_bytes", Module.FilterTracks(Tracks), (Func<string>)(() => Encoding.UTF8.GetString(Module.FilterTracksBytesAsync(tracks.AsMemory()).Result))),
            Tuple.Create("normalize", Module.Normalize(unified), (Func<string>)(() => Module.NormalizeAsync(unified).Result)),
            Tuple.Create("normalize_memory", Module.Normalize(unified), (Func<string>)(() => Module.NormalizeAsync(Utf8(unified)).Result)),
            Tuple.Create("normalize_out_bytes", Module.Normalize(unified), (Func<string>)(() => Encoding.UTF8.GetString(Module.NormalizeBytesAsync(unified).Result))),
            Tuple.Create("normalize_memory_out_bytes", Module.Normalize(unified), (Func<string>)(() => Encoding.UTF8.GetString(Module.NormalizeBytesAsync(Utf8(unified).AsMemory()).Result))),
        };
        foreach (var r in same)
        {
            var row = r;
            Check("async." + row.Item1, () => Equal(row.Item2, row.Item3()));
        }

        // The module's message is read on the pool thread that made the call.
        var refused = new[]
        {
            Tuple.Create("url_refused", "empty query", (Func<Task>)(() => Module.SearchUrlAsync("   "))),
            Tuple.Create("url_null_query", "null query", (Func<Task>)(() => Module.SearchUrlAsync((string)null))),
            Tuple.Create("url_memory_refused", "empty query", (Func<Task>)(() => Module.SearchUrlBytesAsync(Utf8(" \t")))),
            Tuple.Create("filter_refused", "tracks_json must be array", (Func<Task>)(() => Module.FilterTracksAsync("{}"))),
            Tuple.Create("filter_null", "null tracks_json", (Func<Task>)(() => Module.FilterTracksBytesAsync((string)null))),
            Tuple.Create("filter_memory_refused", "tracks_json must be array", (Func<Task>)(() => Module.FilterTracksAsync(Utf8("[")))),
            Tuple.Create("normalize_refused", "invalid search json", (Func<Task>)(() => Module.NormalizeAsync("{} x"))),
            Tuple.Create("normalize_null", "null json", (Func<Task>)(() => Module.NormalizeBytesAsync((string)null))),
            Tuple.Create("normalize_memory_refused", "invalid search json", (Func<Task>)(() => Module.NormalizeAsync(new ReadOnlyMemory<byte>()))),
        };
        foreach (var r in refused)
        {
            var row = r;
            Check("async." + row.Item1, () => Faults(row.Item2, row.Item3));
        }
        Check("async.refused_many_at_once", () =>
        {
            // Failing and succeeding calls share the pool threads: each must see its own text.
            var tasks = new List<Tuple<string, Task>>();
            for (int i = 0; i < 200; i++)
            {
                int k = i % 4;
                if (k == 0) tasks.Add(Tuple.Create("empty query", (Task)Module.SearchUrlAsync("  ")));
                else if (k == 1) tasks.Add(Tuple.Create("tracks_json must be array", (Task)Module.FilterTracksAsync("[", "x")));
                else if (k == 2) tasks.Add(Tuple.Create("invalid search json", (Task)Module.NormalizeAsync("[")));
                else tasks.Add(Tuple.Create((string)null, (Task)Module.SearchUrlAsync("ok " + i)));
            }
            foreach (var t in tasks)
            {
                var entry = t;
                string why = entry.Item1 == null
                    ? (entry.Item2.Wait(60000) ? null : "timed out")
                    : Faults(entry.Item1, () => entry.Item2);
                if (why != null)
                    return why;
            }
            return null;
        });

        // Bad arguments throw before a task exists.
        var early = new[]
        {
            Tuple.Create("url_nul", "query", "embedded NUL at byte 1", (Action)(() => Module.SearchUrlAsync("a\0"))),
            Tuple.Create("url_memory_base_not_utf8", "baseUrl", "not valid UTF-8 at byte 0", (Action)(() => Module.SearchUrlAsync(Utf8("q"), new byte[] { 0x80 }))),
            Tuple.Create("url_bytes_out_nul", "baseUrl", "embedded NUL at byte 0", (Action)(() => Module.SearchUrlBytesAsync(Utf8("q"), new byte[] { 0 }))),
            Tuple.Create("filter_nul", "downloadedJson", "embedded NUL at byte 1", (Action)(() => Module.FilterTracksAsync("[]", null, true, "[\0"))),
            Tuple.Create("filter_memory_nul", "tracksJson", "embedded NUL at byte 2", (Action)(() => Module.FilterTracksBytesAsync(new byte[] { 0x5B, 0x5D, 0 }))),
            Tuple.Create("normalize_nul", "json", "embedded NUL at byte 2", (Action)(() => Module.NormalizeBytesAsync("é\0"))),
            Tuple.Create("normalize_memory_nul", "json", "embedded NUL at byte 1", (Action)(() => Module.NormalizeAsync(new byte[] { 0x7B, 0 }))),
        };
        foreach (var r in early)
        {
            var row = r;
            Check("async." + row.Item1, () => RefusedBeforeCall(row.Item2, row.Item3, row.Item4));
        }

        Check("async.caller_keeps_running", () =>
        {
            var big = new StringBuilder("[");
            for (int i = 0; i < 100000; i++)
                big.Append(i == 0 ? "" : ",").Append("{\"title\":\"t").Append(99999 - i).Append("\",\"streamURL\":\"u\"}");
            big.Append(']');
            string text = big.ToString();
            // Every pool thread held: the call can only have started on the caller's thread.
            int minWorkers, minIo, maxWorkers, maxIo;
            ThreadPool.GetMinThreads(out minWorkers, out minIo);
            ThreadPool.GetMaxThreads(out maxWorkers, out maxIo);
            int held = Math.Max(minWorkers, 1);
            if (!ThreadPool.SetMaxThreads(held, maxIo))
                return "cannot bound the thread pool to " + held;
            var gate = new ManualResetEventSlim(false);
            try
            {
                var started = new CountdownEvent(held);
                for (int i = 0; i < held; i++)
                    Task.Run(() => { started.Signal(); gate.Wait(); });
                started.Wait();
                // A call that blocked its caller would wait for the gate forever: open it late.
                new Thread(() => { if (!gate.Wait(10000)) gate.Set(); }) { IsBackground = true }.Start();
                try
                {
                    Module.SearchUrl("   ");
                }
                catch (NtsrchException)
                {
                }
                Task<byte[]> task = Module.FilterTracksBytesAsync(text, null, false, null, SortMode.TitleAsc);
                bool doneAtReturn = task.IsCompleted;
                gate.Set();
                int length = task.Result.Length;
                if (doneAtReturn)
                    return "the call was done before the Task was returned";
                if (length != Utf8(text).Length)
                    return length + " bytes, want " + Utf8(text).Length;
                // A successful call empties the last-error text of the thread that made it.
                return Module.LastError == "empty query" ? null : "the call ran on the caller's thread";
            }
            finally
            {
                gate.Set();
                ThreadPool.SetMaxThreads(maxWorkers, maxIo);
            }
        });
    }
}
