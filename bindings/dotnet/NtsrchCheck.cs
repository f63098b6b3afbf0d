// SPDX-License-Identifier: MIT
// Checks of the .NET wrapper against the real module: every function, the input errors and
// several threads. Prints one "pass NAME" or "fail NAME: why" line per check and exits 1
// when any failed.
using System;
using System.Collections.Generic;
using System.Threading;
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

    static int Main()
    {
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
                new KeyValuePair<string, Func<string>>("null query", () => Module.SearchUrl(null)),
                new KeyValuePair<string, Func<string>>("empty query", () => Module.SearchUrl(" \t\n")),
                new KeyValuePair<string, Func<string>>("null tracks_json", () => Module.FilterTracks(null)),
                new KeyValuePair<string, Func<string>>("tracks_json must be array", () => Module.FilterTracks("{}")),
                new KeyValuePair<string, Func<string>>("null json", () => Module.Normalize(null)),
                new KeyValuePair<string, Func<string>>("invalid search json", () => Module.Normalize("")),
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
        return failures == 0 ? 0 : 1;
    }
}
