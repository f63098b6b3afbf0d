// SPDX-License-Identifier: MIT
// Checks of the .NET wrapper against the real module: the case table (NtsrchContract.cs),
// then what it cannot say: version and ABI, the last-error text across threads and tasks, and
// a Task that leaves its caller running. Prints one "pass NAME", "fail NAME: why" or
// "skip NAME: why" line per check and exits 1 when any failed.
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
            if (e.LastError != message)
                return "message <" + e.LastError + ">, want <" + message + ">";
            return Module.LastError == message ? null : "LastError <" + Module.LastError + ">";
        }
    }

    static int Main(string[] args)
    {
        // The child of module_lookup: what loading the module from this environment gives.
        if (args.Length == 1 && args[0] == "--load-report")
        {
            try
            {
                Console.WriteLine("loaded " + Module.Version);
            }
            catch (Exception e) when (e is DllNotFoundException || e is EntryPointNotFoundException)
            {
                Console.WriteLine("not loaded: " + e.GetType().Name + ": " + e.Message);
            }
            return 0;
        }
        if (args.Length != 1)
        {
            Console.Error.WriteLine("usage: ntsrch-check.exe bindings/contract/cases.json");
            return 2;
        }
        failures += NtsrchContract.Run(args[0], (status, line) => Console.WriteLine(status + " " + line));
        Check("version", () => Equal("1.0.0", Module.Version));
        Check("abi_version", () =>
        {
            Module.CheckAbi();
            return Module.AbiVersion == Module.ExpectedAbiVersion ? null : "ABI " + Module.AbiVersion;
        });
        Check("selftest", () => Module.SelfTest() == 0 ? null : "selftest failed");
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
        Check("module_file_name", () => Equal(
            System.Runtime.InteropServices.RuntimeInformation.IsOSPlatform(System.Runtime.InteropServices.OSPlatform.Linux)
                ? "nortavel-nortaveltune-search-client.so" : Module.FileName, Module.FileName));
        AsyncVariants();
        ModuleLookup();
        return failures == 0 ? 0 : 1;
    }

    // $NTSRCH_MODULE alone decides, in a child process each: the module is bound once per
    // process. [what the variable names (null: unset), with the system path kept, start of
    // the child's line, the program run]
    static void ModuleLookup()
    {
        string loaded = null, libc = null;
        if (System.IO.File.Exists("/proc/self/maps"))
            foreach (string line in System.IO.File.ReadAllLines("/proc/self/maps"))
                if (line.EndsWith("/" + Module.FileName))
                    loaded = line.Substring(line.IndexOf('/'));
                else if (line.EndsWith("/libc.so.6"))
                    libc = line.Substring(line.IndexOf('/'));
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
            // Without the variable and the system's path, the module beside the program.
            string program = System.Reflection.Assembly.GetEntryAssembly().Location;
            string beside = System.IO.Path.Combine(dir, "whole", System.IO.Path.GetFileName(program));
            System.IO.File.Copy(program, beside);
            var rows = new[]
            {
                Tuple.Create("truncated", cut, true, "not loaded: DllNotFoundException: could not load " + Module.FileName + "; tried:\n  "
                    + cut + " ($NTSRCH_MODULE): truncated: 5000 bytes, headers need ", program),
                Tuple.Create("missing_no_fallback", missing, true, "not loaded: DllNotFoundException: could not load " + Module.FileName
                    + "; tried:\n  " + missing + " ($NTSRCH_MODULE): ", program),
                Tuple.Create("whole_copy_alone", copy, false, "loaded 1.0.0", program),
                Tuple.Create("beside_the_program", (string)null, false, "loaded 1.0.0", beside),
                Tuple.Create("another_library", libc, true, "not loaded: EntryPointNotFoundException: " + libc
                    + " has no ntsrch_version", program),
            };
            foreach (var r in rows.Where(row => row.Item1 != "another_library" || libc != null))
            {
                var row = r;
                Check("module_lookup." + row.Item1, () =>
                {
                    var start = new System.Diagnostics.ProcessStartInfo(
                        System.Diagnostics.Process.GetCurrentProcess().MainModule.FileName,
                        "\"" + row.Item5 + "\" --load-report")
                    { UseShellExecute = false, RedirectStandardOutput = true };
                    start.EnvironmentVariables.Remove("NTSRCH_MODULE");
                    if (row.Item2 != null)
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
