// SPDX-License-Identifier: MIT
public class Main {
    public static void main(String[] args) {
        com.nortaveltune.ntsrch.Ntsrch lib = com.nortaveltune.ntsrch.Ntsrch.load();
        System.out.println(lib.buildSearchUrl("night skies"));
    }
}
