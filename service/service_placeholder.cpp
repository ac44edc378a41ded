// placeholder until the library gets its first source
